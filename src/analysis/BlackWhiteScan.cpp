#include "analysis/BlackWhiteScan.h"

#include "analysis/RefinementFrames.h"
#include "analysis/ScanLogic.h"
#include "media/FrameExtractor.h"

namespace {

// Runs the extractor over times, or reports every time as a failure when the
// movie has no picture to extract.
bool extractAll(FrameExtractor *extractor, const std::vector<double> &times,
                const std::function<bool(const FrameResult &)> &onResult,
                const FrameTap *tap = nullptr)
{
    if (extractor)
        return extractor->extract(times, onResult, tap);
    for (double t : times) {
        if (!onResult(FrameResult{t, std::nullopt, std::nullopt, t}))
            return false;
    }
    return true;
}

bool isHit(const std::optional<Rgb> &pixel)
{
    return pixel && scan::isBlackOrWhite(*pixel);
}

std::unique_ptr<FrameExtractor> openExtractor(const std::string &path, double tolerance,
                                              bool skipUnneededFrames = true)
{
    return FrameExtractor::open(
        path,
        {.tolerance = tolerance, .skipUnneededFrames = skipUnneededFrames, .pixelOnly = true});
}

} // namespace

void scanBlackWhite(const std::string &path, double duration, const TaskHandle &task,
                    ScanSink &sink)
{
    // Coarse pass. The same decode also watches every 0.1 s, so each coarse
    // hit's refinement window is settled from frames already decoded once the
    // decode has passed its end.
    const std::vector<double> times = scan::coarseTimes(duration);
    const int count = static_cast<int>(times.size());
    std::vector<double> coarseHits;
    scan::RefinementFrames frames(duration);
    {
        const FrameTap tap{
            .spacing = scan::fineSpacing,
            .tolerance = scan::fineTolerance,
            .until = duration + scan::fineTolerance,
            .onFrame = [&frames](double time,
                                 std::optional<Rgb> pixel) { frames.addFrame(time, isHit(pixel)); },
            .onUnknown = [&frames](double time) { frames.addUnknownFrame(time); }};
        std::unique_ptr<FrameExtractor> extractor = openExtractor(path, scan::coarseTolerance);
        int k = 0;
        extractAll(
            extractor.get(), times,
            [&](const FrameResult &result) {
                if (task->isCancelled())
                    return false;
                ++k;
                const double t = result.requested;
                if (isHit(result.pixel) && scan::acceptsCoarseHit(coarseHits, t, duration)) {
                    coarseHits.push_back(t);
                    frames.addCoarseHit(t);
                } else {
                    frames.passCoarseTime(t);
                }
                if (k % 10 == 0)
                    sink.progress(scan::coarseProgress(k, count));
                return true;
            },
            &tap);
    }
    if (task->isCancelled()) {
        sink.cancelledInCoarsePass();
        return;
    }
    frames.finish();

    // Refinement: the windows are already settled; only the rare times whose
    // frame the decode did not classify (a frame far from the grid at the end
    // of the movie or across a gap) are extracted on their own, every frame
    // decoded so that none is missed.
    std::unique_ptr<FrameExtractor> extractor;
    std::vector<double> refined;
    const int windowCount = static_cast<int>(coarseHits.size());
    for (int j = 0; j < windowCount; ++j) {
        if (task->isCancelled())
            break;
        const scan::RefinementFrames::Window &window = frames.windows()[j];
        std::vector<double> fineHits = window.hits;
        if (!window.unserved.empty()) {
            if (!extractor)
                extractor = openExtractor(path, scan::fineTolerance, false);
            extractAll(extractor.get(), window.unserved, [&](const FrameResult &result) {
                if (task->isCancelled())
                    return false;
                if (isHit(result.pixel))
                    fineHits.push_back(result.requested);
                return true;
            });
        }
        if (std::optional<double> mid = scan::bestRunMidpoint(fineHits, window.coarseHit))
            refined.push_back(*mid);
        sink.progress(scan::refinementProgress(j + 1, windowCount));
    }
    if (task->isCancelled()) {
        sink.cancelledInRefinement(coarseHits);
        return;
    }
    sink.finished(scan::thinMarkers(std::move(refined)));
}
