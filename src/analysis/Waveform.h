#pragma once

#include <QVector>

#include <functional>
#include <optional>
#include <string>

namespace trimora {

// The waveform's numbers, written once for the reader, the fold, the model and
// the strip that draws it.
namespace waveform {
// The audio is decoded to signed 16-bit mono at this rate.
inline constexpr int readRate = 8000;
// Samples folded into one value: 30 values a second, truncated.
inline constexpr int bucketSize = 266;
// What the values really are per second of media (30.08): drawing them at 30
// would shift the strip by a value every 12 s.
inline constexpr double valuesPerSecond = double(readRate) / bucketSize;
// A read covers its centre ± this, clamped to the movie.
inline constexpr double halfWindow = 6.0;
// The playhead may move this far from the last read's centre before a new read.
inline constexpr double refreshDistance = 3.0;
// The strip shows the playhead ± this.
inline constexpr double shownHalfWindow = 5.0;
} // namespace waveform

// One read window: the peak values and the time of the first.
struct WaveformWindow
{
    double start = 0.0;
    QVector<float> values;
};

// Reads the window around center, clamped to [0, duration], from the first
// audio stream of a file. Nothing when the window is empty, the file has no
// audio that can be decoded, or cancelled() said so before the end. Blocks:
// call it off the main thread.
std::optional<WaveformWindow> readWaveform(const std::string &path, double center, double duration,
                                           const std::function<bool()> &cancelled);

} // namespace trimora
