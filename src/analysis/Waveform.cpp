#include "analysis/Waveform.h"

#include "analysis/WaveformFold.h"
#include "media/AudioReader.h"

#include <algorithm>

namespace trimora {

std::optional<WaveformWindow> readWaveform(const std::string &path, double center, double duration,
                                           const std::function<bool()> &cancelled)
{
    const double start = std::max(center - waveform::halfWindow, 0.0);
    const double end = std::min(center + waveform::halfWindow, duration);
    if (!(start < end))
        return std::nullopt;
    WaveformFold fold;
    const AudioReadStatus status = readAudioRange(
        path, start, end, waveform::readRate,
        [&fold](const std::int16_t *samples, std::size_t count) {
            foldSamples(fold, samples, count);
        },
        cancelled);
    if (status == AudioReadStatus::NotStarted || cancelled())
        return std::nullopt;
    return WaveformWindow{start, finishFold(std::move(fold))};
}

} // namespace trimora
