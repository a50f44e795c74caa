#include "analysis/FrameMatcher.h"

#include <cmath>
#include <utility>

namespace trimora {

namespace scan {

namespace {

// Times closer than this are the same time: distances that differ only by
// rounding (4.1 built as 0.5 + 36 x 0.1 or as 41 x 0.1) make a tie.
constexpr double kSameTime = 1e-6;

} // namespace

FrameMatcher::FrameMatcher(Requests requests, double tolerance, Settled onSettled)
    : m_requests(std::move(requests)), m_tolerance(tolerance), m_onSettled(std::move(onSettled))
{}

void FrameMatcher::packet(double time)
{
    if (done())
        return;
    const double first = m_open.empty() ? m_requests.at(m_next) : m_open.front().time;
    if (time + m_tolerance + kSameTime >= first)
        m_packets.insert(time);
}

void FrameMatcher::frame(double time, bool isReference, const std::function<bool()> &isHit)
{
    // Times whose tolerance ends before this frame get nothing more; frames
    // come in display order, so no later one can reach them either.
    m_latestFrame = std::max(m_latestFrame, time);
    while (!done()) {
        const double next = m_open.empty() ? m_requests.at(m_next) : m_open.front().time;
        if (!(next + m_tolerance + kSameTime < m_latestFrame))
            break;
        if (m_open.empty())
            m_open.push_back({next, std::nullopt});
        settleFront();
    }
    extendTo(time + m_tolerance + kSameTime);

    std::optional<bool> hit;
    for (Pending &request : m_open) {
        if (request.time > time + m_tolerance + kSameTime)
            break;
        if (std::abs(request.time - time) > m_tolerance + kSameTime)
            continue;
        Candidate challenger{time, isReference, false};
        if (!better(challenger, request))
            continue;
        if (!hit)
            hit = isHit();
        challenger.hit = *hit;
        request.candidate = challenger;
    }

    // Once the decode has reached a time, a reference frame answering it can
    // no longer be beaten: later frames are farther, or tie and lose to it.
    while (!m_open.empty()) {
        const Pending &front = m_open.front();
        if (!front.candidate || !front.candidate->isReference ||
            m_latestFrame + kSameTime < front.time)
            break;
        settleFront();
    }
}

void FrameMatcher::finish()
{
    while (!done()) {
        if (m_open.empty())
            m_open.push_back({m_requests.at(m_next), std::nullopt});
        settleFront();
    }
}

void FrameMatcher::extendTo(double time)
{
    for (;;) {
        const std::size_t index = m_next + m_open.size();
        if (index >= m_requests.count)
            return;
        const double t = m_requests.at(index);
        if (t > time)
            return;
        m_open.push_back({t, std::nullopt});
    }
}

bool FrameMatcher::better(const Candidate &challenger, const Pending &request) const
{
    if (!request.candidate)
        return true;
    const Candidate &held = *request.candidate;
    if (challenger.isReference != held.isReference)
        return challenger.isReference;
    const double challengerDistance = std::abs(challenger.time - request.time);
    const double heldDistance = std::abs(held.time - request.time);
    if (std::abs(challengerDistance - heldDistance) <= kSameTime)
        return challenger.time < held.time;
    return challengerDistance < heldDistance;
}

void FrameMatcher::settleFront()
{
    const Pending request = m_open.front();
    m_open.pop_front();
    const std::size_t index = m_next++;
    // Packets before this time's tolerance can matter to no later time.
    m_packets.erase(m_packets.begin(),
                    m_packets.lower_bound(request.time - m_tolerance - kSameTime));
    Answer answer = Answer::NoFrame;
    if (request.candidate) {
        answer = request.candidate->hit ? Answer::Hit : Answer::Miss;
    } else if (!m_packets.empty() && *m_packets.begin() <= request.time + m_tolerance + kSameTime) {
        answer = Answer::Unserved;
    }
    m_onSettled(index, request.time, answer);
}

} // namespace scan

} // namespace trimora
