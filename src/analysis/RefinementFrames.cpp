#include "analysis/RefinementFrames.h"

#include "analysis/ScanLogic.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

namespace scan {

bool onFineGrid(double t)
{
    const double steps = t / fineSpacing;
    return steps > -1e-6 && std::abs(steps - std::round(steps)) <= 1e-6;
}

RefinementFrames::RefinementFrames(double duration) : m_duration(duration)
{}

void RefinementFrames::addFrame(double time, bool hit)
{
    insert({time, hit ? State::Hit : State::Miss});
    // A window is complete once a frame beyond its last time's tolerance is
    // shown: every frame shown before it is known by then.
    while (m_firstOpen < m_windows.size() && m_windows[m_firstOpen].end + fineTolerance < time)
        settle(m_windows[m_firstOpen++]);
}

void RefinementFrames::addUnknownFrame(double time)
{
    insert({time, State::Unknown});
}

void RefinementFrames::insert(Frame frame)
{
    auto it = m_frames.end();
    while (it != m_frames.begin() && std::prev(it)->time >= frame.time)
        --it;
    if (it != m_frames.end() && it->time == frame.time) {
        if (frame.state != State::Unknown)
            it->state = frame.state;
        return;
    }
    m_frames.insert(it, frame);
}

void RefinementFrames::passCoarseTime(double t)
{
    forgetOldFrames(t);
}

void RefinementFrames::addCoarseHit(double coarseHit)
{
    Window window;
    window.coarseHit = coarseHit;
    window.end = refinementTimes(coarseHit, m_duration).back();
    m_windows.push_back(std::move(window));
    forgetOldFrames(coarseHit);
}

void RefinementFrames::finish()
{
    while (m_firstOpen < m_windows.size())
        settle(m_windows[m_firstOpen++]);
    m_frames.clear();
}

void RefinementFrames::settle(Window &window) const
{
    for (double t : refinementTimes(window.coarseHit, m_duration)) {
        const State state = onFineGrid(t) ? nearestFrame(t) : State::Unknown;
        if (state == State::Hit)
            window.hits.push_back(t);
        else if (state == State::Unknown)
            window.unserved.push_back(t);
    }
    window.settled = true;
}

RefinementFrames::State RefinementFrames::nearestFrame(double t) const
{
    // The same choice as the extractor's: the last frame before t and the first
    // at or after it, the nearer within the tolerance, the earlier on a tie.
    const auto newer = std::lower_bound(m_frames.begin(), m_frames.end(), t,
                                        [](const Frame &f, double v) { return f.time < v; });
    const Frame *candidates[2] = {newer != m_frames.begin() ? &*(newer - 1) : nullptr,
                                  newer != m_frames.end() ? &*newer : nullptr};
    const Frame *best = nullptr;
    double bestDistance = fineTolerance;
    for (const Frame *frame : candidates) {
        if (!frame)
            continue;
        const double distance = std::abs(frame->time - t);
        if (distance <= fineTolerance && (!best || distance < bestDistance)) {
            best = frame;
            bestDistance = distance;
        }
    }
    return best ? best->state : State::Miss;
}

void RefinementFrames::forgetOldFrames(double coarseTime)
{
    // Later coarse hits open windows after coarseTime - 2; open windows need
    // theirs from their first time. A frame more than the tolerance (and a
    // grid step of slack) before every such time can never be chosen.
    double keepFrom = coarseTime - fineHalfWindow;
    if (m_firstOpen < m_windows.size())
        keepFrom = std::min(keepFrom, m_windows[m_firstOpen].coarseHit - fineHalfWindow);
    keepFrom -= fineTolerance + fineSpacing;
    while (!m_frames.empty() && m_frames.front().time < keepFrom)
        m_frames.pop_front();
}

} // namespace scan
