#include "analysis/BlackWhiteScan.h"

#include "analysis/FrameMatcher.h"
#include "analysis/ScanLogic.h"
#include "media/FrameReader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <thread>

namespace trimora {

namespace {

// A movie at least this long is decoded as two halves at once: a decode of
// reference frames alone, each predicted from the one before, keeps two cores
// only four fifths busy; two independent ones keep them busy.
constexpr double kSplitFrom = 60.0;

// Each decode holds its own copy of the file's index, which grows with the
// movie (an MP4's by some 60 bytes a packet): a second decode only while its
// copy stays small, about an hour of 25 fps video with sound, so that a long
// movie's scan keeps to one index and its memory stays flat.
constexpr std::size_t kSplitIndexLimit = 250'000;

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

// The answers of the coarse pass's decode, for the coarse times and for every
// time of the fine grid. Stretches decoded at once write disjoint parts.
struct Answers
{
    std::vector<double> coarseTimes;
    std::vector<scan::Answer> coarse;
    std::vector<scan::Answer> grid;
    std::atomic<int> coarseAnswered{0};
};

// Answers the times in [from, to) from one decode of the reference frames,
// from a keyframe that shows every frame within reach of from. False when
// cancelled.
bool answerStretch(const std::string &path, double from, double to, int threads, Answers &answers,
                   const TaskHandle &task, const std::function<void()> &onCoarseAnswer)
{
    const auto firstCoarse = static_cast<std::size_t>(
        std::lower_bound(answers.coarseTimes.begin(), answers.coarseTimes.end(), from) -
        answers.coarseTimes.begin());
    const auto endCoarse = static_cast<std::size_t>(
        std::lower_bound(answers.coarseTimes.begin(), answers.coarseTimes.end(), to) -
        answers.coarseTimes.begin());
    auto gridIndex = [&](double t) {
        const double k = std::ceil(t / scan::fineSpacing - 1e-6);
        return static_cast<std::size_t>(
            std::clamp(k, 0.0, static_cast<double>(answers.grid.size())));
    };
    const std::size_t firstGrid = gridIndex(from);
    const std::size_t endGrid = gridIndex(to);

    scan::FrameMatcher coarse(
        {endCoarse - firstCoarse,
         [&answers, firstCoarse](std::size_t i) { return answers.coarseTimes[firstCoarse + i]; }},
        scan::coarseTolerance, [&](std::size_t i, double, scan::Answer answer) {
            answers.coarse[firstCoarse + i] = answer;
            ++answers.coarseAnswered;
            onCoarseAnswer();
        });
    scan::FrameMatcher fine({endGrid - firstGrid,
                             [firstGrid](std::size_t i) {
                                 return static_cast<double>(firstGrid + i) * scan::fineSpacing;
                             }},
                            scan::fineTolerance,
                            [&answers, firstGrid](std::size_t i, double, scan::Answer answer) {
                                answers.grid[firstGrid + i] = answer;
                            });
    if (std::unique_ptr<FrameReader> reader = FrameReader::open(path, {.threads = threads})) {
        if (from > 0.0)
            reader->seek(from - scan::coarseTolerance);
        bool cancelled = false;
        reader->read(
            [&](double t) {
                coarse.packet(t);
                fine.packet(t);
                return FrameSkip::NonReference;
            },
            [&](const DecodedFrame &frame) {
                if ((cancelled = task->isCancelled()))
                    return false;
                const auto hit = [&frame] { return isHit(frame); };
                fine.frame(frame.time(), frame.isReference(), hit);
                coarse.frame(frame.time(), frame.isReference(), hit);
                return !(coarse.done() && fine.done());
            });
        if (cancelled)
            return false;
    }
    coarse.finish();
    fine.finish();
    return true;
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
    // Coarse pass: a decode of the reference frames only, answering the fine
    // grid as well, so that each coarse hit's refinement window is known from
    // it. A long movie is decoded as two halves at once.
    Answers answers;
    answers.coarseTimes = scan::coarseTimes(duration);
    answers.coarse.assign(answers.coarseTimes.size(), scan::Answer::NoFrame);
    answers.grid.assign(scan::gridCount(duration), scan::Answer::NoFrame);
    const int count = static_cast<int>(answers.coarseTimes.size());
    int reported = 0;
    // Progress at every tenth coarse time answered, from this thread only.
    const auto report = [&] {
        for (const int answered = answers.coarseAnswered;
             reported + 10 <= answered && !task->isCancelled();) {
            reported += 10;
            sink.progress(scan::coarseProgress(reported, count));
        }
    };

    const double end = std::numeric_limits<double>::infinity();
    bool completed = true;
    const unsigned cores = std::thread::hardware_concurrency();
    bool halves = duration >= kSplitFrom && cores > 1;
    if (halves) {
        const std::unique_ptr<FrameReader> reader = FrameReader::open(path);
        halves = reader && reader->indexedPackets() <= kSplitIndexLimit;
    }
    if (halves) {
        // Each half's decoder gets half the cores: faster than more threads
        // each, and every thread holds frames of its own.
        const int threads = static_cast<int>(std::max(1u, cores / 2));
        const double split = answers.coarseTimes[answers.coarseTimes.size() / 2];
        std::atomic<bool> secondDone{false};
        bool secondCompleted = true;
        std::thread second([&] {
            secondCompleted = answerStretch(path, split, end, threads, answers, task, [] {});
            secondDone = true;
        });
        completed = answerStretch(path, 0.0, split, threads, answers, task, report);
        while (!secondDone) {
            report();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        second.join();
        completed = completed && secondCompleted;
    } else {
        completed = answerStretch(path, 0.0, end, 0, answers, task, report);
    }
    report();
    if (!completed || task->isCancelled()) {
        sink.cancelledInCoarsePass();
        return;
    }

    std::vector<double> coarseHits;
    for (std::size_t i = 0; i < answers.coarseTimes.size(); ++i) {
        const double t = answers.coarseTimes[i];
        if (answers.coarse[i] == scan::Answer::Hit &&
            scan::acceptsCoarseHit(coarseHits, t, duration))
            coarseHits.push_back(t);
    }

    // Refinement: the windows come from the grid's answers; only the times
    // whose frame the coarse pass left out are decoded on their own.
    std::unique_ptr<FrameReader> reader;
    std::vector<double> refined;
    const int windowCount = static_cast<int>(coarseHits.size());
    for (int j = 0; j < windowCount; ++j) {
        if (task->isCancelled())
            break;
        const double c = coarseHits[static_cast<std::size_t>(j)];
        scan::Window window = scan::refinementWindow(c, duration, answers.grid);
        if (!window.unserved.empty())
            decodeOnTheirOwn(path, reader, window.unserved, task, window.hits);
        if (std::optional<double> mid = scan::bestRunMidpoint(window.hits, c))
            refined.push_back(*mid);
        sink.progress(scan::refinementProgress(j + 1, windowCount));
    }
    if (task->isCancelled()) {
        sink.cancelledInRefinement(coarseHits);
        return;
    }
    sink.finished(scan::thinMarkers(std::move(refined)));
}

} // namespace trimora
