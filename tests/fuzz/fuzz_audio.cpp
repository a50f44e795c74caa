// The waveform's audio path on an arbitrary file: read a window of mono
// 8000 Hz samples and fold it into peaks, as the waveform read does. Must
// never crash, hang or leak, and may never deliver more than the window.
#include "FuzzInput.h"
#include "analysis/WaveformFold.h"
#include "media/AudioReader.h"

#include <cstdlib>

using namespace trimora;

namespace {

void readWindow(const std::string &path, double start, double end)
{
    const auto wanted = static_cast<std::size_t>((end - start) * waveform::readRate + 0.5);
    std::size_t delivered = 0;
    WaveformFold fold;
    readAudioRange(
        path, start, end, waveform::readRate,
        [&](const std::int16_t *samples, std::size_t count) {
            delivered += count;
            foldSamples(fold, samples, count);
        },
        [] { return false; });
    if (delivered > wanted)
        std::abort();
    const QVector<float> values = finishFold(std::move(fold));
    for (const float v : values)
        if (!(v >= 0.0f && v <= 32768.0f / 32767.0f))
            std::abort();
    const std::size_t buckets = (delivered + waveform::bucketSize - 1) / waveform::bucketSize;
    if (static_cast<std::size_t>(values.size()) != buckets)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    quietMediaLogs();
    const FuzzInput input(data, size);
    if (input.path().empty())
        return 0;
    // The first window after a load, and one that needs a seek.
    readWindow(input.path(), 0.0, 6.0);
    readWindow(input.path(), 0.1, 12.1);
    return 0;
}
