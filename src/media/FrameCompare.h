#pragma once

// Comparing decoded pictures: a digest of what is shown, and the peak
// signal-to-noise ratio of one picture against another. Media code only.

#include "media/FFmpegPtr.h"

#include <cstdint>
#include <optional>

namespace trimora {

// The digest of a frame's visible samples, plane by plane.
std::uint64_t frameDigest(const AVFrame *frame);

// PSNR in dB over all planes of two frames of the same size and format;
// nothing when they cannot be compared. Identical frames give infinity.
std::optional<double> framePsnr(const AVFrame *a, const AVFrame *b);

} // namespace trimora
