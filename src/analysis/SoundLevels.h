#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace trimora {

// The sound of a whole movie at a glance: the loudest sample of each short
// stretch, 0 (silence) to 1 (full scale).
namespace soundlevels {
// Decoded to mono at this rate: loud enough parts and silences show as well
// as at the source's rate, for a sixth of the work of the resampler.
inline constexpr int readRate = 8000;
// Values for a whole movie, at most: about five per pixel of the widest
// screen, and never finer than one per 10 ms.
inline constexpr int mostValues = 20000;
inline constexpr double finestSeconds = 0.01;

// Samples per value for a movie of this length.
int samplesPerValue(double duration);
} // namespace soundlevels

// Reads [from, to) of the first audio stream (to the end when to is past
// it) and hands the values over in order as they are done, in chunks, each
// with the index of its first value (value i covers samplesPerValue samples
// from from + i * samplesPerValue / readRate). Returns false when the movie has
// no sound that decodes or when cancelled() said stop; the values handed
// over until then stand.
bool readSoundLevels(
    const std::string &path, double from, double to, int samplesPerValue,
    const std::function<void(std::size_t first, std::vector<float> values)> &onValues,
    const std::function<bool()> &cancelled);

} // namespace trimora
