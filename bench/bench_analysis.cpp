// Times the black/white scan against ffmpeg's blackdetect on a 10-minute
// 1080p movie, the 12 s waveform read, and the scan's peak memory.
//   cmake --preset bench && cmake --build --preset bench
//   build/bench/bench/bench_analysis [--verify]
// --verify also decodes every frame the plain way (loop filter on, nothing
// skipped) and checks that each requested time classifies the same.

#include "analysis/BlackWhiteScan.h"
#include "analysis/ScanLogic.h"
#include "analysis/WaveformFold.h"
#include "media/AudioReader.h"
#include "media/FrameExtractor.h"
#include "media/MediaProbe.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct CollectingSink : ScanSink
{
    std::vector<double> markers;
    void progress(double) override {}
    void finished(const std::vector<double> &result) override { markers = result; }
    void cancelledInCoarsePass() override {}
    void cancelledInRefinement(const std::vector<double> &) override {}
};

std::vector<double> hitsOf(const std::string &path, const std::vector<double> &times,
                           FrameExtractorOptions options)
{
    std::vector<double> hits;
    auto extractor = FrameExtractor::open(path, options);
    if (!extractor)
        return hits;
    extractor->extract(times, [&](const FrameResult &r) {
        if (r.image && scan::isBlackOrWhite(averagePixel(*r.image)))
            hits.push_back(r.requested);
        return true;
    });
    return hits;
}

bool verify(const std::string &path, double duration)
{
    std::vector<double> coarse = scan::coarseTimes(duration);
    std::vector<double> fine;
    for (double c : hitsOf(path, coarse, {.tolerance = scan::coarseTolerance})) {
        const std::vector<double> window = scan::refinementTimes(c, duration);
        fine.insert(fine.end(), window.begin(), window.end());
    }
    std::sort(fine.begin(), fine.end());
    bool same = true;
    for (auto [times, tolerance, name] : {std::tuple{&coarse, scan::coarseTolerance, "coarse"},
                                          std::tuple{&fine, scan::fineTolerance, "refinement"}}) {
        const auto fast = hitsOf(path, *times, {.tolerance = tolerance});
        const auto exact =
            hitsOf(path, *times,
                   {.tolerance = tolerance, .skipUnneededFrames = false, .skipLoopFilter = false});
        std::printf("verify %-10s: %zu times, %zu hits fast, %zu hits exact: %s\n", name,
                    times->size(), fast.size(), exact.size(), fast == exact ? "same" : "DIFFER");
        same = same && fast == exact;
    }
    return same;
}

} // namespace

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const bool wantVerify = argc > 1 && std::strcmp(argv[1], "--verify") == 0;
    const std::string path = TRIMORA_BENCH_MEDIA "/movie-10min-1080p.mp4";
    const std::string make = std::string("bash '") + TRIMORA_BENCH_SCRIPT + "' '" + path + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "could not generate %s\n", path.c_str());
        return 1;
    }
    const auto duration = probeDuration(QString::fromStdString(path));
    if (!duration)
        return 1;
    std::printf("movie: %s (%.1f s)\n", path.c_str(), *duration);

    auto start = Clock::now();
    CollectingSink sink;
    scanBlackWhite(path, *duration, makeTask(), sink);
    const double scanSeconds = secondsSince(start);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("scan: %.2f s, %zu markers:", scanSeconds, sink.markers.size());
    for (double m : sink.markers)
        std::printf(" %.2f", m);
    std::printf("\nscan peak memory (max RSS): %.1f MB\n", usage.ru_maxrss / 1024.0);

    const std::string ffmpeg = "ffmpeg -nostdin -hide_banner -loglevel error -i '" + path +
                               "' -vf blackdetect=d=0.1 -f null -";
    start = Clock::now();
    if (std::system(ffmpeg.c_str()) != 0)
        std::fprintf(stderr, "ffmpeg failed\n");
    const double ffmpegSeconds = secondsSince(start);
    std::printf("ffmpeg blackdetect: %.2f s\nscan / ffmpeg: %.2f\n", ffmpegSeconds,
                scanSeconds / ffmpegSeconds);

    std::vector<double> reads;
    for (int i = 0; i < 21; ++i) {
        const double center = 30.0 + i * 25.0;
        start = Clock::now();
        WaveformFold fold;
        readAudioRange(
            path, center - 6.0, center + 6.0,
            [&fold](const std::int16_t *s, std::size_t n) { foldSamples(fold, s, n); },
            [] { return false; });
        const QVector<float> values = finishFold(std::move(fold));
        reads.push_back(secondsSince(start) * 1000.0);
        if (values.size() != 361)
            std::printf("waveform read at %.0f s gave %lld values\n", center,
                        static_cast<long long>(values.size()));
    }
    std::sort(reads.begin(), reads.end());
    std::printf("waveform 12 s read + fold: median %.2f ms (min %.2f, max %.2f, 21 reads)\n",
                reads[reads.size() / 2], reads.front(), reads.back());

    if (wantVerify && !verify(path, *duration))
        return 2;
    return 0;
}
