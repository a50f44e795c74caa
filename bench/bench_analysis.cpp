// Times the black/white scan against ffmpeg's blackdetect on the 10-minute
// 1080p benchmark movie and on the same movie without black or white frames,
// each pair back to back with the machine's load beside it; then the scan's
// peak memory and the 12 s waveform read.
//   cmake --preset bench && cmake --build --preset bench
//   build/bench/bench/bench_analysis [--verify] [--rounds N]
// --verify also finds the markers the plain way (every frame decoded with the
// loop filter, each time answered by its nearest frame, each refinement window
// decoded on its own) and reports the largest difference from the scan's.

#include "BenchMovies.h"
#include "analysis/BlackWhiteScan.h"
#include "analysis/FrameMatcher.h"
#include "analysis/ScanLogic.h"
#include "analysis/Waveform.h"
#include "media/AudioReader.h"
#include "media/FrameReader.h"
#include "media/MediaProbe.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

using namespace trimora;

namespace {

using bench::Clock;
using bench::secondsSince;

struct CollectingSink : ScanSink
{
    std::vector<double> markers;
    void progress(double) override {}
    void finished(const std::vector<double> &result) override { markers = result; }
    void cancelledInCoarsePass() override {}
    void cancelledInRefinement(const std::vector<double> &) override {}
};

// The times among `times` whose nearest frame is black or white, every frame
// decoded with the loop filter.
std::vector<double> plainHits(const std::string &path, const std::vector<double> &times,
                              double tolerance)
{
    std::vector<double> hits;
    auto reader = FrameReader::open(path, {.skipLoopFilter = false});
    if (!reader || times.empty())
        return hits;
    scan::FrameMatcher matcher(scan::requestsFor(times), tolerance,
                               [&hits](std::size_t, double t, scan::Answer answer) {
                                   if (answer == scan::Answer::Hit)
                                       hits.push_back(t);
                               });
    if (times.front() > tolerance)
        reader->seek(times.front() - tolerance);
    const bool ended = reader->read([](double) { return FrameSkip::Nothing; },
                                    [&](const DecodedFrame &frame) {
                                        // Every frame counts alike: the nearest one answers.
                                        matcher.frame(frame.time(), true, [&frame] {
                                            const std::optional<Rgb> p = frame.pixel();
                                            return p && scan::isBlackOrWhite(*p);
                                        });
                                        return !matcher.done();
                                    });
    if (ended)
        matcher.finish();
    return hits;
}

std::vector<double> plainMarkers(const std::string &path, double duration)
{
    std::vector<double> coarseHits;
    for (double t : plainHits(path, scan::coarseTimes(duration), scan::coarseTolerance)) {
        if (scan::acceptsCoarseHit(coarseHits, t, duration))
            coarseHits.push_back(t);
    }
    std::vector<double> refined;
    for (double c : coarseHits) {
        const auto fine = plainHits(path, scan::refinementTimes(c, duration), scan::fineTolerance);
        if (const auto mid = scan::bestRunMidpoint(fine, c))
            refined.push_back(*mid);
    }
    return scan::thinMarkers(refined);
}

std::vector<double> timedScan(const std::string &name, const std::string &path)
{
    const auto timing = probeDuration(QString::fromStdString(path));
    if (!timing)
        return {};
    const double duration = timing->duration;
    const double loadBefore = bench::loadAverage();
    const double cpu = bench::cpuSeconds();
    const auto start = Clock::now();
    CollectingSink sink;
    scanBlackWhite(path, duration, makeTask(), sink);
    const double scanSeconds = secondsSince(start);
    const double scanCpu = bench::cpuSeconds() - cpu;
    const bench::Timing ffmpeg = bench::blackdetect(path);
    std::printf("%s: scan %.2f s, blackdetect %.2f s, scan / blackdetect %.2f (load %.2f -> "
                "%.2f; processor time %.1f s / %.1f s = %.2f), %zu markers:",
                name.c_str(), scanSeconds, ffmpeg.seconds, scanSeconds / ffmpeg.seconds, loadBefore,
                bench::loadAverage(), scanCpu, ffmpeg.cpu, scanCpu / ffmpeg.cpu,
                sink.markers.size());
    for (double m : sink.markers)
        std::printf(" %.2f", m);
    std::printf("\n");
    return sink.markers;
}

} // namespace

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bool wantVerify = false;
    int rounds = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--verify") == 0)
            wantVerify = true;
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
    }
    const std::string boxes = bench::movie("boxes");
    const std::string plain = bench::movie("plain");
    if (boxes.empty() || plain.empty())
        return 1;

    std::vector<double> markers;
    for (int round = 0; round < rounds; ++round) {
        markers = timedScan("movie with black and white", boxes);
        timedScan("movie without", plain);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("scan peak memory (max RSS): %.1f MB\n", usage.ru_maxrss / 1024.0);

    std::vector<double> reads;
    for (int i = 0; i < 21; ++i) {
        const double center = 30.0 + i * 25.0;
        const auto start = Clock::now();
        const QVector<float> values = readWaveform(boxes, center, 600.0, [] { return false; })
                                          .value_or(WaveformWindow{})
                                          .values;
        reads.push_back(secondsSince(start) * 1000.0);
        if (values.size() != 361)
            std::printf("waveform read at %.0f s gave %lld values\n", center,
                        static_cast<long long>(values.size()));
    }
    std::sort(reads.begin(), reads.end());
    std::printf("waveform 12 s read + fold: median %.2f ms (min %.2f, max %.2f, 21 reads)\n",
                reads[reads.size() / 2], reads.front(), reads.back());

    if (wantVerify) {
        const auto start = Clock::now();
        const auto timing = probeDuration(QString::fromStdString(boxes));
        const std::vector<double> expected =
            timing ? plainMarkers(boxes, timing->duration) : markers;
        double largest = 0.0;
        const bool sameCount = expected.size() == markers.size();
        for (std::size_t i = 0; sameCount && i < markers.size(); ++i)
            largest = std::max(largest, std::abs(markers[i] - expected[i]));
        std::printf("verify: plain decode %.1f s, %zu markers; largest difference %.3f s: %s\n",
                    secondsSince(start), expected.size(), largest,
                    sameCount && largest <= 0.1 ? "within 0.1 s" : "DIFFER");
        if (!sameCount || largest > 0.1)
            return 2;
    }
    return 0;
}
