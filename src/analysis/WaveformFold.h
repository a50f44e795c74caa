#pragma once

#include "analysis/Waveform.h"

#include <QVector>

#include <cstddef>
#include <cstdint>

namespace trimora {

// Folds 16-bit PCM into peak values, one per bucket of samples. The bucket is
// carried across chunks, so the result does not depend on how the decoder cut
// its output.
struct WaveformFold
{
    QVector<float> values;
    float peak = 0.0f;
    int count = 0;
};

void foldSamples(WaveformFold &fold, const std::int16_t *samples, std::size_t count);

// The values, with the unfinished last bucket appended when it holds a sample.
QVector<float> finishFold(WaveformFold fold);

} // namespace trimora
