#pragma once

#include "media/Thumbnail.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <optional>

// The colour matrix a decoded Y'CbCr frame is meant to be shown with.
YuvMatrix frameMatrix(const AVFrame *frame);

// The deprecated full-range "J" formats are their plain twins with a range
// flag: returns the twin and sets fullRange for them.
AVPixelFormat plainPixelFormat(AVPixelFormat format, bool &fullRange);

// The whole picture averaged into one RGB pixel: the mean of every sample of
// each plane, converted once. Reads the planes directly, which costs far less
// than scaling to a thumbnail first. Pure black and pure white, limited or full
// range, come out exactly 0,0,0 and 255,255,255. Nothing for formats other
// than 8-bit planar Y'CbCr.
std::optional<Rgb> framePixel(const AVFrame *frame);
