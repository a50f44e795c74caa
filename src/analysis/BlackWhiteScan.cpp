#include "analysis/BlackWhiteScan.h"

#include "analysis/FrameMatcher.h"
#include "analysis/RefinementWindows.h"
#include "analysis/ScanLogic.h"
#include "media/FrameReader.h"

#include <algorithm>

namespace {

bool isHit(const DecodedFrame &frame)
{
    // An ordinary picture is ruled out from a few of its rows.
    if (frame.lumaMeanBetween(scan::blackLumaBelow, scan::whiteLumaFrom))
        return false;
    const std::optional<Rgb> pixel = frame.pixel();
    return pixel && scan::isBlackOrWhite(*pixel);
}

bool nearAny(const std::vector<double> &times, double t, double tolerance)
{
    const double reach = tolerance + 1e-6; // as far as the matcher looks
    const auto it = std::lower_bound(times.begin(), times.end(), t - reach);
    return it != times.end() && *it <= t + reach;
}

// Answers the window times the coarse pass's decode could not: from the
// keyframe before the first, decoding the frames left out only near them.
// Appends the hits; stops when cancelled.
void decodeOnTheirOwn(const std::string &path, std::unique_ptr<FrameReader> &reader,
                      std::vector<double> times, const TaskHandle &task, std::vector<double> &hits)
{
    if (!reader)
        reader = FrameReader::open(path);
    if (!reader)
        return;
    std::sort(times.begin(), times.end());
    const double tolerance = scan::fineTolerance;
    scan::FrameMatcher matcher(scan::requestsFor(times), tolerance,
                               [&hits](std::size_t, double t, scan::Answer answer) {
                                   if (answer == scan::Answer::Hit)
                                       hits.push_back(t);
                               });
    reader->seek(times.front() - tolerance);
    const bool ended = reader->read(
        [&](double t) {
            matcher.packet(t);
            return nearAny(times, t, tolerance) ? FrameSkip::Nothing : FrameSkip::NonReference;
        },
        [&](const DecodedFrame &frame) {
            if (task->isCancelled())
                return false;
            matcher.frame(frame.time(), frame.isReference(), [&frame] { return isHit(frame); });
            return !matcher.done();
        });
    if (ended)
        matcher.finish();
}

} // namespace

void scanBlackWhite(const std::string &path, double duration, const TaskHandle &task,
                    ScanSink &sink)
{
    // Coarse pass: one decode of the reference frames only. It answers the
    // fine grid as well, so that each coarse hit's refinement window is known
    // once the decode has passed it.
    const std::vector<double> times = scan::coarseTimes(duration);
    const int count = static_cast<int>(times.size());
    std::vector<double> coarseHits;
    scan::RefinementWindows windows(duration);
    int k = 0;
    bool stopped = false;
    scan::FrameMatcher fine(windows.grid(), scan::fineTolerance,
                            [&windows](std::size_t index, double, scan::Answer answer) {
                                windows.gridAnswer(index, answer);
                            });
    scan::FrameMatcher coarse(scan::requestsFor(times), scan::coarseTolerance,
                              [&](std::size_t, double t, scan::Answer answer) {
                                  if (stopped || (stopped = task->isCancelled()))
                                      return;
                                  ++k;
                                  const bool hit = answer == scan::Answer::Hit &&
                                                   scan::acceptsCoarseHit(coarseHits, t, duration);
                                  if (hit)
                                      coarseHits.push_back(t);
                                  windows.coarseTime(t, hit);
                                  if (k % 10 == 0)
                                      sink.progress(scan::coarseProgress(k, count));
                              });
    if (std::unique_ptr<FrameReader> reader = FrameReader::open(path)) {
        reader->read(
            [&](double t) {
                coarse.packet(t);
                fine.packet(t);
                return FrameSkip::NonReference;
            },
            [&](const DecodedFrame &frame) {
                if (stopped || (stopped = task->isCancelled()))
                    return false;
                const auto hit = [&frame] { return isHit(frame); };
                fine.frame(frame.time(), frame.isReference(), hit);
                coarse.frame(frame.time(), frame.isReference(), hit);
                return !(coarse.done() && fine.done());
            });
    }
    if (!stopped) {
        coarse.finish();
        fine.finish();
    }
    if (stopped || task->isCancelled()) {
        sink.cancelledInCoarsePass();
        return;
    }

    // Refinement: the windows are settled; only the times whose frame the
    // coarse pass left out (or that lie off its grid) are decoded on their own.
    std::unique_ptr<FrameReader> reader;
    std::vector<double> refined;
    const int windowCount = static_cast<int>(coarseHits.size());
    for (int j = 0; j < windowCount; ++j) {
        if (task->isCancelled())
            break;
        const scan::RefinementWindows::Window &window = windows.windows()[j];
        std::vector<double> fineHits = window.hits;
        if (!window.unserved.empty())
            decodeOnTheirOwn(path, reader, window.unserved, task, fineHits);
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
