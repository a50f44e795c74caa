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
constexpr double out = 184.0;

bool never()
{
    return false;
}

double copyCut(const std::string &movie, const std::string &output)
{
    std::optional<SourceLayout> layout;
    std::optional<VideoIndex> index;
    readCutSource(
        movie, never, [&](SourceLayout l) { layout = std::move(l); },
        [&](VideoIndex i) { index = std::move(i); });
    const CutPlan plan =
        planCut({QString::fromStdString(movie), QString::fromStdString(output), in, out},
                layout ? &*layout : nullptr, index ? &*index : nullptr);
    const auto start = bench::Clock::now();
    const int status = QProcess::execute(
        QStringLiteral("ffmpeg"),
        QStringList{"-nostdin", "-hide_banner", "-loglevel", "error"} + plan.arguments);
    const double seconds = bench::secondsSince(start);
    if (status != 0)
        std::fprintf(stderr, "the copy cut failed (%d)\n", status);
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = 1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    const std::string movie = bench::movie("steady");
    if (movie.empty())
        return 1;
    const std::string exactOut = std::string(TRIMORA_BENCH_MEDIA) + "/bench-exact-out.mp4";
    const std::string copyOut = std::string(TRIMORA_BENCH_MEDIA) + "/bench-copy-out.mp4";
    // A warm disk cache for both.
    std::system(("cat '" + movie + "' > /dev/null").c_str());

    auto start = bench::Clock::now();
    std::optional<ExactSource> source = readExactSource(movie, never);
    const double readSeconds = bench::secondsSince(start);
    if (!source)
        return 1;
    const ExactCutPlan plan = planExactCut(std::make_shared<const ExactSource>(std::move(*source)),
                                           {{in, out}}, QStringLiteral("cut.mp4"));
    if (!plan.refusal.isEmpty()) {
        std::fprintf(stderr, "refused: %s\n", qPrintable(plan.refusal));
        return 1;
    }
    std::printf("movie: %s\nrange: %.3f-%.3f s\nplan: %s\n", movie.c_str(), in, out,
                qPrintable(plan.summary));
    std::printf("reading the source for the plan (once per movie): %.2f s\n\n", readSeconds);
    std::printf("%-6s %10s %10s %7s %9s %10s %10s %6s\n", "round", "exact s", "copy s", "ratio",
                "encoded", "min dB", "mean dB", "load");
    for (int round = 1; round <= rounds; ++round) {
        std::remove(exactOut.c_str());
        std::remove(copyOut.c_str());
        start = bench::Clock::now();
        const ExactOutcome outcome = runExactCut(plan.job, movie, exactOut, {}, never);
        const double exactSeconds = bench::secondsSince(start);
        if (!outcome.failure.empty()) {
            std::fprintf(stderr, "the exact cut failed: %s\n", outcome.failure.c_str());
            return 1;
        }
        const double copySeconds = copyCut(movie, copyOut);
        std::printf("%-6d %10.2f %10.2f %7.2f %9lld %10.2f %10.2f %6.2f\n", round, exactSeconds,
                    copySeconds, exactSeconds / copySeconds,
                    static_cast<long long>(outcome.framesEncoded), outcome.lowestPsnr,
                    outcome.meanPsnr, bench::loadAverage());
    }
    std::remove(exactOut.c_str());
    std::remove(copyOut.c_str());
    return 0;
}
