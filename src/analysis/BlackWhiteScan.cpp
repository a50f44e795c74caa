#include "analysis/BlackWhiteScan.h"

#include "analysis/ScanLogic.h"
#include "media/FrameExtractor.h"

#include <algorithm>

namespace {

// Runs the extractor over times, or reports every time as a failure when the
// movie has no picture to extract.
void extractAll(FrameExtractor *extractor, const std::vector<double> &times,
                const std::function<bool(const FrameResult &)> &onResult)
{
    if (extractor) {
        extractor->extract(times, onResult);
        return;
    }
    for (double t : times) {
        if (!onResult(FrameResult{t, std::nullopt, t}))
            return;
    }
}

bool isHit(const FrameResult &result)
{
    return result.image && scan::isBlackOrWhite(averagePixel(*result.image));
}

} // namespace

void scanBlackWhite(const std::string &path, double duration, const TaskHandle &task,
                    ScanSink &sink)
{
    // Coarse pass.
    const std::vector<double> times = scan::coarseTimes(duration);
    const int count = static_cast<int>(times.size());
    std::vector<double> coarseHits;
    {
        std::unique_ptr<FrameExtractor> extractor =
            FrameExtractor::open(path, {.tolerance = scan::coarseTolerance});
        int k = 0;
        extractAll(extractor.get(), times, [&](const FrameResult &result) {
            if (task->isCancelled())
                return false;
            ++k;
            if (isHit(result) && scan::acceptsCoarseHit(coarseHits, result.requested, duration))
                coarseHits.push_back(result.requested);
            if (k % 10 == 0)
                sink.progress(scan::coarseProgress(k, count));
            return true;
        });
    }
    if (task->isCancelled()) {
        sink.cancelledInCoarsePass();
        return;
    }

    // Refinement: the windows are served by one decode over the union of their
    // times, in time order, so frames shared by overlapping windows and the
    // stretches between near windows are decoded once.
    struct Request
    {
        double time;
        std::size_t window;
    };
    std::vector<Request> requests;
    std::vector<std::size_t> total(coarseHits.size(), 0);
    for (std::size_t j = 0; j < coarseHits.size(); ++j) {
        const std::vector<double> window = scan::refinementTimes(coarseHits[j], duration);
        for (double t : window)
            requests.push_back({t, j});
        total[j] = window.size();
    }
    std::vector<std::size_t> remaining = total;
    std::stable_sort(requests.begin(), requests.end(),
                     [](const Request &a, const Request &b) { return a.time < b.time; });
    std::vector<double> unionTimes(requests.size());
    std::transform(requests.begin(), requests.end(), unionTimes.begin(),
                   [](const Request &r) { return r.time; });

    std::vector<std::vector<double>> fineHits(coarseHits.size());
    std::vector<double> refined;
    std::size_t nextWindow = 0; // windows are evaluated in order, each once complete
    const int windowCount = static_cast<int>(coarseHits.size());
    auto evaluate = [&](std::size_t j) {
        if (std::optional<double> mid = scan::bestRunMidpoint(fineHits[j], coarseHits[j]))
            refined.push_back(*mid);
        sink.progress(scan::refinementProgress(static_cast<int>(j) + 1, windowCount));
    };

    if (!coarseHits.empty() && !task->isCancelled()) {
        std::unique_ptr<FrameExtractor> extractor =
            FrameExtractor::open(path, {.tolerance = scan::fineTolerance});
        std::size_t index = 0;
        extractAll(extractor.get(), unionTimes, [&](const FrameResult &result) {
            if (task->isCancelled())
                return false;
            const std::size_t j = requests[index++].window;
            if (isHit(result))
                fineHits[j].push_back(result.requested);
            --remaining[j];
            while (nextWindow < remaining.size() && remaining[nextWindow] == 0)
                evaluate(nextWindow++);
            return !task->isCancelled();
        });
        // A window interrupted by cancellation is still evaluated with what it had.
        if (task->isCancelled() && nextWindow < remaining.size() &&
            remaining[nextWindow] < total[nextWindow])
            evaluate(nextWindow++);
    }
    if (task->isCancelled()) {
        sink.cancelledInRefinement(coarseHits);
        return;
    }
    sink.finished(scan::thinMarkers(std::move(refined)));
}
