#include "views/TimelineAxis.h"

#include "media/CutSource.h"

#include <algorithm>
#include <cmath>

namespace trimora {

TimelineAxis TimelineAxis::fitted(double length, double pixels)
{
    TimelineAxis axis;
    axis.duration = length > 0 && std::isfinite(length) ? length : 0.0;
    axis.width = pixels > 0 ? pixels : 0.0;
    axis.pixelsPerSecond = axis.duration > 0 ? axis.width / axis.duration : 0.0;
    return axis;
}

bool TimelineAxis::isFitted() const
{
    return !(span() < duration * (1 - 1e-9));
}

TimelineAxis TimelineAxis::scrolledTo(double newStart) const
{
    TimelineAxis axis = *this;
    const double latest = std::max(duration - span(), 0.0);
    // Written so that NaN lands on 0.
    axis.start = newStart > latest ? latest : (newStart > 0 ? newStart : 0.0);
    return axis;
}

TimelineAxis TimelineAxis::zoomed(double factor, double x, double mostPixelsPerSecond) const
{
    if (!(pixelsPerSecond > 0) || !(factor > 0) || !std::isfinite(factor))
        return *this;
    const double least = fitted(duration, width).pixelsPerSecond;
    const double anchor = timeAt(x);
    TimelineAxis axis = *this;
    axis.pixelsPerSecond =
        std::clamp(pixelsPerSecond * factor, least, std::max(mostPixelsPerSecond, least));
    axis.start = anchor - x / axis.pixelsPerSecond;
    return axis.scrolledTo(axis.start);
}

TimelineAxis TimelineAxis::resized(double newWidth) const
{
    if (isFitted())
        return fitted(duration, newWidth);
    TimelineAxis axis = *this;
    axis.width = std::max(newWidth, 0.0);
    // Never wider than the whole movie.
    axis.pixelsPerSecond = std::max(pixelsPerSecond, fitted(duration, axis.width).pixelsPerSecond);
    return axis.scrolledTo(start);
}

TimelineAxis TimelineAxis::showing(double t) const
{
    if (!(t < start) && !(t > end()))
        return *this;
    return scrolledTo(t - span() / 10);
}

PictureSlots pictureSlots(const TimelineAxis &axis, double from, double to, double tileWidth,
                          const VideoIndex *index, double keyframeGap)
{
    PictureSlots out;
    const double pps = axis.pixelsPerSecond;
    from = std::max(from, 0.0);
    to = std::min(to, axis.duration);
    if (!(pps > 0) || !(tileWidth > 0) || !(from < to))
        return out;
    const bool haveFrames = index && !index->framePts.empty();
    if (haveFrames && index->frameDuration * pps >= tileWidth) {
        out.perFrame = out.pickFrames = true;
        const std::vector<double> &frames = index->framePts;
        const std::vector<double> &keys = index->keyframes;
        auto it = std::upper_bound(frames.begin(), frames.end(), from + 1e-9);
        if (it != frames.begin())
            --it;
        auto key = std::lower_bound(keys.begin(), keys.end(), *it - 1e-6);
        for (; it != frames.end() && *it < to; ++it) {
            const double next = std::next(it) != frames.end() ? *std::next(it) : axis.duration;
            while (key != keys.end() && *key < *it - 1e-6)
                ++key;
            const bool isKey = key != keys.end() && *key <= *it + 1e-6;
            out.slots.push_back({*it, axis.xAt(*it), axis.xAt(std::max(next, *it)), isKey});
        }
        return out;
    }
    const double tileSeconds = tileWidth / pps;
    out.pickFrames = haveFrames && tileSeconds < keyframeGap;
    for (double k = std::floor(from / tileSeconds); k * tileSeconds < to; ++k) {
        const double t = k * tileSeconds;
        out.slots.push_back({t, axis.xAt(t), axis.xAt(t) + tileWidth, false});
    }
    return out;
}

double rulerStep(double pixelsPerSecond, double minSpacing)
{
    static constexpr double steps[] = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05,  0.1,  0.2, 0.5,
                                       1,     2,     5,     10,   15,   30,    60,   120, 300,
                                       600,   900,   1800,  3600, 7200, 14400, 36000};
    if (!(pixelsPerSecond > 0))
        return 0.0;
    for (double step : steps) {
        if (step * pixelsPerSecond >= minSpacing)
            return step;
    }
    double step = steps[std::size(steps) - 1];
    while (step * pixelsPerSecond < minSpacing)
        step *= 2;
    return step;
}

double typicalKeyframeGap(const std::vector<double> &keyframes, double duration)
{
    if (keyframes.size() < 2)
        return duration;
    std::vector<double> gaps;
    gaps.reserve(keyframes.size() - 1);
    for (std::size_t i = 1; i < keyframes.size(); ++i)
        gaps.push_back(keyframes[i] - keyframes[i - 1]);
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    return gaps[gaps.size() / 2];
}

} // namespace trimora
