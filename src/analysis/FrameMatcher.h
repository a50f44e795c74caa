#pragma once

#include "analysis/ScanLogic.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <vector>

namespace trimora {

namespace scan {

// Requested times, ascending: count of them, the i-th given by at(i).
struct Requests
{
    std::size_t count = 0;
    std::function<double(std::size_t)> at;
};

// The times of a list, which must outlive what is built from them.
inline Requests requestsFor(const std::vector<double> &times)
{
    return {times.size(), [&times](std::size_t i) { return times[i]; }};
}

// Decides, once for the whole scan, which frame answers which requested time:
// among the frames within the tolerance, the nearest reference frame, else
// the nearest frame; on a tie the earlier one. The decode hands in the time of
// every packet it reads (decoding order) and every frame that comes out
// (display order); a frame is classified only when it becomes some time's
// answer. Each time is settled once, in ascending order, as soon as no later
// frame can answer it better, and reported to onSettled.
class FrameMatcher
{
public:
    using Settled = std::function<void(std::size_t index, double time, Answer answer)>;

    FrameMatcher(Requests requests, double tolerance, Settled onSettled);

    void packet(double time);
    void frame(double time, bool isReference, const std::function<bool()> &isHit);
    // The decode has ended: every time left is settled.
    void finish();
    // Every time is settled: the decode need not go on for this matcher.
    bool done() const { return m_next == m_requests.count; }

private:
    struct Candidate
    {
        double time;
        bool isReference;
        bool hit;
    };
    struct Pending
    {
        double time;
        std::optional<Candidate> candidate;
    };
    void extendTo(double time);
    void settleFront();
    bool better(const Candidate &challenger, const Pending &request) const;

    Requests m_requests;
    double m_tolerance;
    Settled m_onSettled;
    std::size_t m_next = 0;     // first unsettled request
    std::deque<Pending> m_open; // requests m_next, m_next + 1, ... near the decode
    std::multiset<double> m_packets;
    double m_latestFrame = -1e300;
};

} // namespace scan

} // namespace trimora
