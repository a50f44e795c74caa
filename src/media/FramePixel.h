#pragma once

#include "media/Thumbnail.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <optional>

namespace trimora {

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

// Whether the mean luma of the whole picture, on the 0-255 scale of
// full-range RGB, certainly lies strictly between low and high. Reads only as
// many rows as it takes to be sure: a small part of an ordinary picture, all
// of a very dark or very bright one. False when unsure, and for formats other
// than 8-bit planar Y'CbCr.
bool lumaMeanBetween(const AVFrame *frame, double low, double high);

} // namespace trimora
