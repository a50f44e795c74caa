#pragma once

#include "media/FrameReader.h"

#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The scan's frame rule applied by brute force to every frame of a movie, to
// check the scan against: a time is answered by the nearest reference frame
// within the tolerance, else (where others count) the nearest frame;
// distances equal up to rounding tie, and the earlier wins.
struct RuleFrame
{
    double time;
    bool reference;
    bool hit;
};

// The frames of the movie in display order (all, or what the decoder keeps
// under skip), each classified by hit where one is given.
inline std::vector<RuleFrame>
ruleFrames(const std::string &path,
           const std::function<bool(const std::optional<trimora::Rgb> &)> &hit = {},
           trimora::FrameSkip skip = trimora::FrameSkip::Nothing)
{
    std::vector<RuleFrame> frames;
    if (auto reader = trimora::FrameReader::open(path)) {
        reader->read([skip](double) { return skip; },
                     [&](const trimora::DecodedFrame &f) {
                         frames.push_back({f.time(), f.isReference(), hit && hit(f.pixel())});
                         return true;
                     });
    }
    return frames;
}

inline std::optional<RuleFrame> ruleChoice(const std::vector<RuleFrame> &frames, double t,
                                           double tolerance, bool othersCount = true)
{
    std::optional<RuleFrame> best;
    for (const RuleFrame &f : frames) {
        const double d = std::abs(f.time - t);
        if (d > tolerance + 1e-6 || (!f.reference && !othersCount))
            continue;
        if (!best || (f.reference && !best->reference) ||
            (f.reference == best->reference && d < std::abs(best->time - t) - 1e-6))
            best = f;
    }
    return best;
}
