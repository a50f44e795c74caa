#include "analysis/RefinementWindows.h"

#include "analysis/ScanLogic.h"

#include <algorithm>
#include <cmath>

namespace scan {

namespace {

// The grid index of t, when t is a multiple of the fine spacing up to rounding.
std::optional<std::size_t> gridIndex(double t)
{
    const double steps = t / fineSpacing;
    const double nearest = std::round(steps);
    if (nearest < 0.0 || std::abs(steps - nearest) > 1e-6)
        return std::nullopt;
    return static_cast<std::size_t>(nearest);
}

} // namespace

RefinementWindows::RefinementWindows(double duration) : m_duration(duration)
{}

Requests RefinementWindows::grid() const
{
    const double last = std::floor(m_duration / fineSpacing + 1e-6);
    const std::size_t count = last >= 0.0 ? static_cast<std::size_t>(last) + 1 : 0;
    return {count, [](std::size_t k) { return static_cast<double>(k) * fineSpacing; }};
}

void RefinementWindows::gridAnswer(std::size_t index, Answer answer)
{
    m_answeredUpTo = index + 1;
    while (!m_waiting.empty() && m_waiting.front().first <= index) {
        const auto [waitingIndex, slot] = m_waiting.front();
        m_waiting.pop_front();
        if (waitingIndex == index)
            apply(m_windows[slot.window], slot.time, answer);
    }
    // A later window starts at its coarse hit less the half window: no later
    // one looks back before m_keepFrom.
    if (static_cast<double>(index) * fineSpacing >= m_keepFrom - fineSpacing)
        m_answers.emplace_back(index, answer);
}

void RefinementWindows::coarseTime(double t, bool hit)
{
    m_keepFrom = t - fineHalfWindow;
    while (!m_answers.empty() &&
           static_cast<double>(m_answers.front().first) * fineSpacing < m_keepFrom - fineSpacing)
        m_answers.pop_front();
    if (!hit)
        return;

    Window window;
    window.coarseHit = t;
    window.times = refinementTimes(t, m_duration);
    m_windows.push_back(std::move(window));
    const std::size_t w = m_windows.size() - 1;
    std::vector<std::pair<std::size_t, Slot>> waiting;
    for (std::size_t i = 0; i < m_windows[w].times.size(); ++i) {
        const std::optional<std::size_t> index = gridIndex(m_windows[w].times[i]);
        const auto known =
            index ? std::find_if(m_answers.begin(), m_answers.end(),
                                 [&](const auto &answer) { return answer.first == *index; })
                  : m_answers.end();
        // Off the grid, or answered too long ago to be held: its own decode.
        if (!index || (known == m_answers.end() && *index < m_answeredUpTo))
            apply(m_windows[w], i, Answer::Unserved);
        else if (known != m_answers.end())
            apply(m_windows[w], i, known->second);
        else
            waiting.push_back({*index, Slot{w, i}});
    }
    // Keep the waiting list ordered by grid index; windows overlap.
    for (const auto &entry : waiting) {
        const auto at = std::upper_bound(
            m_waiting.begin(), m_waiting.end(), entry.first,
            [](std::size_t index, const auto &other) { return index < other.first; });
        m_waiting.insert(at, entry);
    }
}

void RefinementWindows::apply(Window &window, std::size_t time, Answer answer)
{
    if (answer == Answer::Hit)
        window.hits.push_back(window.times[time]);
    else if (answer == Answer::Unserved)
        window.unserved.push_back(window.times[time]);
    ++window.answered;
}

} // namespace scan
