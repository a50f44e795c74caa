// Times the black/white scan against ffmpeg's blackdetect on a 10-minute
// 1080p movie, the 12 s waveform read, and the scan's peak memory.
//   cmake --preset bench && cmake --build --preset bench
//   build/bench/bench/bench_analysis [--verify]
// --verify also finds the markers the plain way (every frame decoded with the
// loop filter, each refinement window extracted on its own) and checks that
// they are the same.

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

// The scan's markers the plain way: every frame decoded with the loop filter,
// nothing skipped, each refinement window extracted on its own.
std::vector<double> plainMarkers(const std::string &path, double duration)
{
    const FrameExtractorOptions plain{
        .skipUnneededFrames = false, .skipLoopFilter = false, .pixelOnly = true};
    auto hitsOf = [&](const std::vector<double> &times, double tolerance) {
        std::vector<double> hits;
        FrameExtractorOptions options = plain;
        options.tolerance = tolerance;
        if (auto extractor = FrameExtractor::open(path, options)) {
            extractor->extract(times, [&](const FrameResult &r) {
                if (r.pixel && scan::isBlackOrWhite(*r.pixel))
                    hits.push_back(r.requested);
                return true;
            });
        }
        return hits;
    };
    std::vector<double> coarseHits;
    for (double t : hitsOf(scan::coarseTimes(duration), scan::coarseTolerance)) {
        if (scan::acceptsCoarseHit(coarseHits, t, duration))
            coarseHits.push_back(t);
    }
    std::vector<double> refined;
    for (double c : coarseHits) {
        const auto fine = hitsOf(scan::refinementTimes(c, duration), scan::fineTolerance);
        if (const auto mid = scan::bestRunMidpoint(fine, c))
            refined.push_back(*mid);
    }
    std::printf("verify: %zu coarse hits, %zu refined\n", coarseHits.size(), refined.size());
    return scan::thinMarkers(refined);
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
    const auto timing = probeDuration(QString::fromStdString(path));
    if (!timing)
        return 1;
    const double duration = timing->duration;
    std::printf("movie: %s (%.1f s)\n", path.c_str(), duration);

    auto start = Clock::now();
    CollectingSink sink;
    scanBlackWhite(path, duration, makeTask(), sink);
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

    if (wantVerify) {
        start = Clock::now();
        const std::vector<double> expected = plainMarkers(path, duration);
        std::printf("verify: plain decode %.1f s, %zu markers: %s\n", secondsSince(start),
                    expected.size(), expected == sink.markers ? "same" : "DIFFER");
        if (expected != sink.markers)
            return 2;
    }
    return 0;
}
