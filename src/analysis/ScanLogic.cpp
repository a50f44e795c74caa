#include "analysis/ScanLogic.h"

#include <algorithm>
#include <cmath>

namespace trimora {

namespace scan {

std::vector<double> coarseTimes(double duration)
{
    const double steps = std::trunc(duration * 2.0);
    const long long n = steps >= 1.0 ? static_cast<long long>(steps) : 1;
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(n) + 1);
    for (long long i = 0; i <= n; ++i)
        times.push_back(std::min(duration, static_cast<double>(i) * coarseSpacing));
    return times;
}

std::vector<double> refinementTimes(double coarseHit, double duration)
{
    const double lo = std::max(coarseHit - fineHalfWindow, 0.0);
    const double hi = std::min(coarseHit + fineHalfWindow, duration);
    const double steps = std::trunc((hi - lo) / fineSpacing);
    const long long m = steps >= 1.0 ? static_cast<long long>(steps) : 1;
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(m) + 1);
    for (long long i = 0; i <= m; ++i)
        times.push_back(std::min(lo + static_cast<double>(i) * fineSpacing, hi));
    return times;
}

std::size_t gridCount(double duration)
{
    const double last = std::floor(duration / fineSpacing + 1e-6);
    return last >= 0.0 ? static_cast<std::size_t>(last) + 1 : 0;
}

Window refinementWindow(double coarseHit, double duration, const std::vector<Answer> &grid)
{
    Window window;
    for (double t : refinementTimes(coarseHit, duration)) {
        // Built as lo + i x 0.1, a time is on the grid up to rounding.
        const double steps = t / fineSpacing;
        const double k = std::round(steps);
        const bool onGrid =
            k >= 0.0 && std::abs(steps - k) <= 1e-6 && k < static_cast<double>(grid.size());
        const Answer answer = onGrid ? grid[static_cast<std::size_t>(k)] : Answer::Unserved;
        if (answer == Answer::Hit)
            window.hits.push_back(t);
        else if (answer == Answer::Unserved)
            window.unserved.push_back(t);
    }
    return window;
}

bool isBlackOrWhite(Rgb pixel)
{
    const float brightness = static_cast<float>(pixel.r + pixel.g + pixel.b) / 765.0f;
    return brightness == 0.0f || brightness == 1.0f;
}

bool acceptsCoarseHit(const std::vector<double> &hits, double t, double duration)
{
    return t > 1.0 && t < duration - 1.0 && (hits.empty() || t - hits.back() > 1.0);
}

std::optional<double> bestRunMidpoint(std::vector<double> fineHits, double coarseHit)
{
    std::sort(fineHits.begin(), fineHits.end());
    const double gap = 1.5 * fineSpacing; // 0.15000000000000002: one missing sample splits
    std::optional<double> best;
    double bestDistance = 0.0;
    std::size_t first = 0;
    for (std::size_t i = 0; i < fineHits.size(); ++i) {
        const bool runEnds = i + 1 == fineHits.size() || fineHits[i + 1] - fineHits[i] > gap;
        if (!runEnds)
            continue;
        const double start = fineHits[first];
        const double last = fineHits[i];
        first = i + 1;
        if (last - start < minimumRun)
            continue;
        const double mid = (start + last) / 2.0;
        const double distance = std::abs(mid - coarseHit);
        if (!best || distance < bestDistance) {
            best = mid;
            bestDistance = distance;
        }
    }
    return best;
}

std::vector<double> thinMarkers(std::vector<double> refined)
{
    std::sort(refined.begin(), refined.end());
    std::vector<double> result;
    for (double t : refined) {
        if (result.empty() || t - result.back() > markerSpacing)
            result.push_back(t);
    }
    return result;
}

double coarseProgress(int framesDone, int frameCount)
{
    return static_cast<double>(framesDone) / static_cast<double>(frameCount) * coarseShare;
}

double refinementProgress(int windowsDone, int windowCount)
{
    return static_cast<double>(windowsDone) / static_cast<double>(std::max(windowCount, 1)) *
               refinementShare +
           coarseShare;
}

std::optional<double> previousMarker(const std::vector<double> &markers, double t)
{
    for (auto it = markers.rbegin(); it != markers.rend(); ++it) {
        if (*it < t - navigationMargin)
            return *it;
    }
    return std::nullopt;
}

std::optional<double> nextMarker(const std::vector<double> &markers, double t)
{
    for (double m : markers) {
        if (m > t + navigationMargin)
            return m;
    }
    return std::nullopt;
}

} // namespace scan

} // namespace trimora
