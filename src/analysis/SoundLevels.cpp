#include "analysis/SoundLevels.h"

#include "media/AudioReader.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace trimora {

namespace soundlevels {

int samplesPerValue(double duration)
{
    const double seconds = std::max(duration / mostValues, finestSeconds);
    if (!std::isfinite(seconds))
        return readRate;
    return std::max(1, static_cast<int>(std::lround(std::min(seconds, 3600.0) * readRate)));
}

} // namespace soundlevels

bool readSoundLevels(const std::string &path, double from, double to, int samplesPerValue,
                     const std::function<void(std::size_t, std::vector<float>)> &onValues,
                     const std::function<bool()> &cancelled)
{
    using Clock = std::chrono::steady_clock;
    // Often enough for the overview to fill in visibly, seldom enough that
    // the window does not redraw for every few values: with the video surface,
    // every redraw composes the whole window.
    constexpr auto handOverEvery = std::chrono::milliseconds(500);

    const int bucket = std::max(samplesPerValue, 1);
    std::size_t first = 0;
    std::vector<float> values;
    float peak = 0.0f;
    int count = 0;
    auto lastHandOver = Clock::now();
    const auto handOver = [&] {
        if (values.empty())
            return;
        const std::size_t size = values.size();
        onValues(first, std::move(values));
        first += size;
        values = {};
        lastHandOver = Clock::now();
    };
    const AudioReadStatus status = readAudioRange(
        path, from, to, soundlevels::readRate,
        [&](const std::int16_t *samples, std::size_t n) {
            for (std::size_t i = 0; i < n; ++i) {
                // -32768 would come out just above 1.
                peak = std::max(peak, std::min(std::abs(samples[i] / 32767.0f), 1.0f));
                if (++count == bucket) {
                    values.push_back(peak);
                    peak = 0.0f;
                    count = 0;
                }
            }
            if (Clock::now() - lastHandOver >= handOverEvery)
                handOver();
        },
        cancelled);
    if (status != AudioReadStatus::Finished)
        return false;
    if (count > 0)
        values.push_back(peak);
    handOver();
    return true;
}

} // namespace trimora
