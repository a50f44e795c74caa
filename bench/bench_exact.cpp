// Times an exact cut against the copy cut of the same range, back to back,
// on the 10-minute 1080p movie with a keyframe exactly every 10 s: from 3 s
// after a keyframe to 4 s after another (61 s), so that both edges are
// re-encoded. The exact cut's time includes its check of the written file;
// the copy cut is the ffmpeg program run with the arguments an export gives
// it. Also prints the re-encoded frames' PSNR against the source's.
//   cmake --preset bench && cmake --build --preset bench
//   build/bench/bench/bench_exact [--rounds N]

#include "BenchMovies.h"
#include "export/CutPlan.h"
#include "export/ExactCutPlan.h"
#include "media/CutSource.h"
#include "media/ExactCutter.h"

#include <QProcess>
#include <QString>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

using namespace trimora;

namespace {

constexpr double in = 123.0;

bool never()
{
    return false;
}

bench::Timing copyCut(const std::string &movie, const std::string &output, double out)
{
    std::optional<SourceLayout> layout;
    std::optional<VideoIndex> index;
    readCutSource(
        movie, never, [&](SourceLayout l) { layout = std::move(l); },
        [&](VideoIndex i) { index = std::move(i); });
    const CutPlan plan =
        planCut({QString::fromStdString(movie), QString::fromStdString(output), in, out},
                layout ? &*layout : nullptr, index ? &*index : nullptr);
    const double cpu = bench::cpuSeconds(RUSAGE_CHILDREN);
    const auto start = bench::Clock::now();
    const int status = QProcess::execute(
        QStringLiteral("ffmpeg"),
        QStringList{"-nostdin", "-hide_banner", "-loglevel", "error"} + plan.arguments);
    const double seconds = bench::secondsSince(start);
    if (status != 0)
        std::fprintf(stderr, "the copy cut failed (%d)\n", status);
    return {seconds, bench::cpuSeconds(RUSAGE_CHILDREN) - cpu};
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = bench::roundsArgument(argc, argv);
    const std::string movie = bench::movie("steady");
    if (movie.empty())
        return 1;
    const std::string exactOut = std::string(TRIMORA_BENCH_MEDIA) + "/bench-exact-out.mp4";
    const std::string copyOut = std::string(TRIMORA_BENCH_MEDIA) + "/bench-copy-out.mp4";
    // A warm disk cache for both.
    double readSeconds = 0.0;
    const auto source = bench::warmSource(movie, readSeconds);
    if (!source)
        return 1;
    // Out 4 s after the keyframe at 180 s, moved on frame by frame until the
    // copy cannot end there, so that the end is re-encoded too.
    double out = 184.0;
    ExactCutPlan plan;
    for (int frame = 0; frame < 50; ++frame) {
        out = 184.0 + 0.04 * frame;
        plan = planExactCut(source, {{in, out}}, QStringLiteral("cut.mp4"));
        if (!plan.refusal.isEmpty() ||
            plan.job.ranges.front().copyEndPts < plan.job.ranges.front().endPts)
            break;
    }
    if (!plan.refusal.isEmpty()) {
        std::fprintf(stderr, "refused: %s\n", qPrintable(plan.refusal));
        return 1;
    }
    std::printf("movie: %s\nrange: %.3f-%.3f s\nplan: %s\n      %s\n", movie.c_str(), in, out,
                qPrintable(plan.summary), qPrintable(plan.sound));
    std::printf("reading the source for the plan (once per movie): %.2f s\n\n", readSeconds);
    std::printf("%-6s %8s %8s %8s %8s %7s %8s %8s %8s %6s\n", "round", "exact s", "cpu s", "copy s",
                "cpu s", "ratio", "encoded", "min dB", "mean dB", "load");
    for (int round = 1; round <= rounds; ++round) {
        std::remove(exactOut.c_str());
        std::remove(copyOut.c_str());
        const double cpu = bench::cpuSeconds();
        const auto start = bench::Clock::now();
        const ExactOutcome outcome = runExactCut(plan.job, movie, exactOut, {}, never);
        const bench::Timing exact{bench::secondsSince(start), bench::cpuSeconds() - cpu};
        if (!outcome.failure.empty()) {
            std::fprintf(stderr, "the exact cut failed: %s\n", outcome.failure.c_str());
            return 1;
        }
        const bench::Timing copy = copyCut(movie, copyOut, out);
        std::printf("%-6d %8.2f %8.2f %8.2f %8.2f %7.1f %8lld %8.2f %8.2f %6.2f\n", round,
                    exact.seconds, exact.cpu, copy.seconds, copy.cpu, exact.seconds / copy.seconds,
                    static_cast<long long>(outcome.framesEncoded), outcome.lowestPsnr,
                    outcome.meanPsnr, bench::loadAverage());
    }
    std::remove(exactOut.c_str());
    std::remove(copyOut.c_str());
    return 0;
}
