#include "analysis/WaveformFold.h"

#include <cmath>

namespace trimora {

void foldSamples(WaveformFold &fold, const std::int16_t *samples, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const float v = std::fabs(static_cast<float>(samples[i]) / 32767.0f);
        if (fold.peak < v)
            fold.peak = v;
        if (++fold.count >= waveform::bucketSize) {
            fold.values.append(fold.peak);
            fold.peak = 0.0f;
            fold.count = 0;
        }
    }
}

QVector<float> finishFold(WaveformFold fold)
{
    if (fold.count >= 1)
        fold.values.append(fold.peak);
    return std::move(fold.values);
}

} // namespace trimora
