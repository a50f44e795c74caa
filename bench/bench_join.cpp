// Times a joined copy export against the ffmpeg program copying as much in
// one piece, back to back: 10 segments of 30 s spread evenly over the
// 10-minute 1080p movie (each from 12.3 s into its minute, so that each
// starts at the keyframe before it), joined into one MP4 by Trimora, check
// included; then `ffmpeg -ss 150 -i MOVIE -t 300 -map 0 -c copy` into an
// MP4. Prints both times with their processor time, their ratio, and the
// peak memory of this process and of the ffmpeg program.
//   cmake --preset bench && cmake --build --preset bench
//   build/bench/bench/bench_join [--rounds N]

#include "BenchMovies.h"
#include "BenchProcess.h"
#include "export/CopyJoinPlan.h"
#include "media/ExactCutter.h"

#include <QString>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

using namespace trimora;

namespace {

bool never()
{
    return false;
}

double mebibytes(long kilobytes)
{
    return static_cast<double>(kilobytes) / 1024.0;
}

struct Run
{
    bench::Timing timing;
    double peakMiB = 0.0;
};

// The ffmpeg program, its peak memory read while it runs: a child's
// ru_maxrss would count this process's memory too, as the child starts as a
// copy of it.
Run copyRun(const std::string &movie, const std::string &output)
{
    std::vector<std::string> words = {
        "ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-ss",  "150", "-i",
        movie,    "-t",       "300",          "-map",      "0",     "-c", "copy", output};
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    Run run;
    const auto start = bench::Clock::now();
    pid_t child = 0;
    if (posix_spawnp(&child, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "the ffmpeg program cannot be started\n");
        return run;
    }
    int status = 0;
    rusage usage{};
    double peak = 0.0;
    while (wait4(child, &status, WNOHANG, &usage) == 0) {
        peak = std::max(peak, bench::statusMegabytes(QString::number(child), "VmHWM"));
        usleep(2000);
    }
    run.timing.seconds = bench::secondsSince(start);
    const auto seconds = [](const timeval &tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
    run.timing.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.peakMiB = peak;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "the ffmpeg program failed (%d)\n", status);
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = bench::roundsArgument(argc, argv);
    const std::string movie = bench::movie("boxes");
    if (movie.empty())
        return 1;
    const std::string joinOut = std::string(TRIMORA_BENCH_MEDIA) + "/bench-join-out.mp4";
    const std::string copyOut = std::string(TRIMORA_BENCH_MEDIA) + "/bench-copy-out.mp4";
    // A warm disk cache for both.
    double readSeconds = 0.0;
    const auto source = bench::warmSource(movie, readSeconds);
    if (!source)
        return 1;
    std::vector<CutRange> ranges;
    for (int k = 0; k < 10; ++k)
        ranges.push_back({60.0 * k + 12.3, 60.0 * k + 42.3});
    const CopyJoinPlan plan = planCopyJoin(source, ranges, QStringLiteral("join.mp4"));
    if (!plan.refusal.isEmpty()) {
        std::fprintf(stderr, "refused: %s\n", qPrintable(plan.refusal));
        return 1;
    }
    double held = 0.0;
    for (const ExactRange &range : plan.job.ranges)
        held +=
            static_cast<double>(range.endPts - range.startPts) * source->video->timeBase.value();
    std::printf("movie: %s\njoin: 10 segments of 30 s, %.2f s with their lead-ins\n", movie.c_str(),
                held);
    std::printf("reading the source for the plan (once per movie): %.2f s\n\n", readSeconds);
    std::printf("%-6s %8s %8s %8s %8s %7s %9s %9s %6s\n", "round", "join s", "cpu s", "ffmpeg s",
                "cpu s", "ratio", "join MiB", "ffm. MiB", "load");
    for (int round = 1; round <= rounds; ++round) {
        std::remove(joinOut.c_str());
        std::remove(copyOut.c_str());
        const double cpu = bench::cpuSeconds();
        const auto start = bench::Clock::now();
        const ExactOutcome outcome = runExactCut(plan.job, movie, joinOut, {}, never);
        const bench::Timing join{bench::secondsSince(start), bench::cpuSeconds() - cpu};
        if (!outcome.failure.empty()) {
            std::fprintf(stderr, "the join failed: %s\n", outcome.failure.c_str());
            return 1;
        }
        const Run copy = copyRun(movie, copyOut);
        rusage self{};
        getrusage(RUSAGE_SELF, &self);
        std::printf("%-6d %8.2f %8.2f %8.2f %8.2f %7.2f %9.0f %9.0f %6.2f\n", round, join.seconds,
                    join.cpu, copy.timing.seconds, copy.timing.cpu,
                    join.seconds / copy.timing.seconds, mebibytes(self.ru_maxrss), copy.peakMiB,
                    bench::loadAverage());
    }
    std::remove(joinOut.c_str());
    std::remove(copyOut.c_str());
    return 0;
}
