#pragma once

#include "analysis/FrameMatcher.h"

#include <cstddef>
#include <deque>
#include <utility>
#include <vector>

namespace scan {

// Settles the refinement windows from the decode of the coarse pass, so that
// the common movie is decoded once. That decode answers the fine grid (every
// multiple of the fine spacing) all along; the last few seconds of answers are
// kept, so a coarse hit finds the part of its window the decode has already
// passed, and the rest arrives as the decode goes on. A window's time the grid
// does not cover (off the grid, or with only skipped frames near it) is left
// to a decode of its own. Memory does not grow with the movie.
class RefinementWindows
{
public:
    struct Window
    {
        double coarseHit = 0.0;
        std::vector<double> times;    // its requested times
        std::vector<double> hits;     // those whose frame is black or white
        std::vector<double> unserved; // those left to a decode of their own
        std::size_t answered = 0;     // of times, including off-grid ones
        bool settled() const { return answered == times.size(); }
    };

    explicit RefinementWindows(double duration);

    // The fine grid over the movie: index k is k times the fine spacing.
    Requests grid() const;
    void gridAnswer(std::size_t index, Answer answer);
    // The coarse pass has settled t, a hit or not: later hits lie after it.
    void coarseTime(double t, bool hit);

    const std::vector<Window> &windows() const { return m_windows; }
    std::size_t answersHeld() const { return m_answers.size(); }

private:
    struct Slot
    {
        std::size_t window;
        std::size_t time;
    };
    void apply(Window &window, std::size_t time, Answer answer);

    double m_duration;
    std::deque<std::pair<std::size_t, Answer>> m_answers; // recent grid answers
    std::deque<std::pair<std::size_t, Slot>> m_waiting;   // window times by grid index
    std::vector<Window> m_windows;
    double m_keepFrom = 0.0;
    std::size_t m_answeredUpTo = 0; // grid indices below this are answered
};

} // namespace scan
