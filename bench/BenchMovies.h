#pragma once
// The benchmark movies, made once into the bench build's cache, and the
// figures every benchmark prints beside its own: ffmpeg's blackdetect on the
// same file, run right after, and the machine's load at that moment.

#include "media/ExactSource.h"

#include <algorithm>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// kind: "boxes" (black and white stretches, 19 markers), "plain" (none),
// "steady" (plain, a keyframe exactly every 10 s) or "2h" (the boxes movie
// twelve times over, silent for 30 s from 4:00 of every ten minutes). Empty
// when it cannot be made.
inline std::string movie(const std::string &kind)
{
    const std::string dir = TRIMORA_BENCH_MEDIA;
    const std::string boxes = dir + "/movie-10min-1080p.mp4";
    const std::string path = kind == "boxes"    ? boxes
                             : kind == "plain"  ? dir + "/movie-10min-1080p-plain.mp4"
                             : kind == "steady" ? dir + "/movie-10min-1080p-steady.mp4"
                                                : dir + "/movie-2h-1080p-silences.mp4";
    if (kind == "2h" && movie("boxes").empty())
        return {};
    const std::string make = std::string("bash '") + TRIMORA_BENCH_SCRIPT + "' '" + path + "' " +
                             kind + " '" + boxes + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "could not make %s\n", path.c_str());
        return {};
    }
    return path;
}

// The --rounds N argument; 1 without it.
inline int roundsArgument(int argc, char **argv)
{
    int rounds = 1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    return rounds;
}

// The description an in-process cut is planned from, read after the whole
// file went through the disk cache; seconds gets how long the reading took.
inline std::shared_ptr<const trimora::ExactSource> warmSource(const std::string &movie,
                                                              double &seconds)
{
    if (std::system(("cat '" + movie + "' > /dev/null").c_str()) != 0)
        return nullptr;
    const auto start = std::chrono::steady_clock::now();
    std::optional<trimora::ExactSource> read =
        trimora::readExactSource(movie, [] { return false; });
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return read ? std::make_shared<const trimora::ExactSource>(std::move(*read)) : nullptr;
}

// Processor seconds (user and system) used so far by this process, or by
// its finished children.
inline double cpuSeconds(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval &tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Timing
{
    double seconds = 0.0;
    double cpu = 0.0;
};

// `ffmpeg -vf blackdetect=d=0.1` on the file: wall and processor seconds.
inline Timing blackdetect(const std::string &path)
{
    const std::string ffmpeg = "ffmpeg -nostdin -hide_banner -loglevel error -i '" + path +
                               "' -vf blackdetect=d=0.1 -f null -";
    const double cpu = cpuSeconds(RUSAGE_CHILDREN);
    const auto start = Clock::now();
    if (std::system(ffmpeg.c_str()) != 0)
        std::fprintf(stderr, "ffmpeg failed\n");
    return {secondsSince(start), cpuSeconds(RUSAGE_CHILDREN) - cpu};
}

// The one-minute load average, as `uptime` shows it.
inline double loadAverage()
{
    double load = -1.0;
    if (FILE *f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1)
            load = -1.0;
        std::fclose(f);
    }
    return load;
}

} // namespace bench
