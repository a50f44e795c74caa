#include "model/SegmentList.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace trimora::segmentRules {

namespace {

constexpr double tiny = 1e-6;
// Times read from a file may be rounded to the millisecond.
constexpr double slack = 0.0015;

bool hasSelection(const SegmentList &list)
{
    return list.selected >= 0 && list.selected < static_cast<int>(list.segments.size());
}

const Segment &at(const SegmentList &list, int index)
{
    return list.segments[static_cast<size_t>(index)];
}

QString tr(const char *text)
{
    return QCoreApplication::translate("SegmentList", text);
}

// A time for a mark: kept to the microsecond like the playhead, NaN as 0.
double markTime(double t)
{
    const double rounded = std::round(t * 1e6) / 1e6;
    return rounded > 0 ? rounded : 0.0;
}

} // namespace

std::vector<int> byTime(const SegmentList &list)
{
    std::vector<int> order(list.segments.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const Segment &x = at(list, a);
        const Segment &y = at(list, b);
        return x.in != y.in ? x.in < y.in : x.out < y.out;
    });
    return order;
}

Room roomOf(const SegmentList &list, int index, double duration)
{
    Room room{0.0, duration};
    const Segment &self = at(list, index);
    for (int i = 0; i < static_cast<int>(list.segments.size()); ++i) {
        if (i == index)
            continue;
        const Segment &other = at(list, i);
        // Order by start, then by end: a point-long segment at a neighbour's
        // edge belongs on the side it touches.
        const bool before = other.in != self.in     ? other.in < self.in
                            : other.out != self.out ? other.out < self.out
                                                    : i < index;
        if (before)
            room.from = std::max(room.from, other.out);
        else
            room.to = std::min(room.to, other.in);
    }
    return room;
}

std::optional<SegmentList> withIn(const SegmentList &list, double t, double duration)
{
    if (!hasSelection(list))
        return std::nullopt;
    t = markTime(t);
    SegmentList result = list;
    Segment &segment = result.segments[static_cast<size_t>(list.selected)];
    const Room room = roomOf(list, list.selected, duration);
    segment.in = std::clamp(t, room.from, std::max(room.from, segment.out));
    return result;
}

std::optional<SegmentList> withOut(const SegmentList &list, double t, double duration)
{
    if (!hasSelection(list))
        return std::nullopt;
    t = markTime(t);
    SegmentList result = list;
    Segment &segment = result.segments[static_cast<size_t>(list.selected)];
    const Room room = roomOf(list, list.selected, duration);
    segment.out = std::clamp(t, std::min(segment.in, room.to), room.to);
    return result;
}

std::optional<SegmentList> splitAt(const SegmentList &list, double t)
{
    for (size_t i = 0; i < list.segments.size(); ++i) {
        const Segment &segment = list.segments[i];
        if (segment.in + tiny < t && t < segment.out - tiny) {
            SegmentList result = list;
            Segment second = segment;
            second.in = t;
            result.segments[i].out = t;
            result.segments.insert(result.segments.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                   second);
            result.selected = static_cast<int>(i) + 1;
            return result;
        }
    }
    return std::nullopt;
}

std::optional<SegmentList> addAt(const SegmentList &list, double t, double duration)
{
    if (std::isnan(t) || t < 0 || t >= duration - tiny)
        return std::nullopt;
    double end = duration;
    int position = 0;
    for (size_t i = 0; i < list.segments.size(); ++i) {
        const Segment &segment = list.segments[i];
        if (segment.in - tiny <= t && t < segment.out - tiny)
            return std::nullopt; // inside a segment: no gap here
        if (segment.in > t)
            end = std::min(end, segment.in);
        else
            position = static_cast<int>(i) + 1;
    }
    if (end - t <= tiny)
        return std::nullopt;
    SegmentList result = list;
    result.segments.insert(result.segments.begin() + position, Segment{t, end, {}});
    result.selected = position;
    return result;
}

std::optional<SegmentList> withoutSelected(const SegmentList &list)
{
    if (!hasSelection(list))
        return std::nullopt;
    SegmentList result = list;
    result.segments.erase(result.segments.begin() + list.selected);
    result.selected = std::min(list.selected, static_cast<int>(result.segments.size()) - 1);
    return result;
}

std::optional<SegmentList> movedInList(const SegmentList &list, int by)
{
    const int to = list.selected + by;
    if (!hasSelection(list) || to < 0 || to >= static_cast<int>(list.segments.size()))
        return std::nullopt;
    SegmentList result = list;
    std::swap(result.segments[static_cast<size_t>(list.selected)],
              result.segments[static_cast<size_t>(to)]);
    result.selected = to;
    return result;
}

std::optional<SegmentList> selectedInTime(const SegmentList &list, int by)
{
    if (list.segments.empty())
        return std::nullopt;
    const std::vector<int> order = byTime(list);
    int place = 0;
    if (hasSelection(list)) {
        place =
            static_cast<int>(std::find(order.begin(), order.end(), list.selected) - order.begin()) +
            by;
    } else {
        place = by > 0 ? 0 : static_cast<int>(order.size()) - 1;
    }
    if (place < 0 || place >= static_cast<int>(order.size()))
        return std::nullopt;
    SegmentList result = list;
    result.selected = order[static_cast<size_t>(place)];
    return result;
}

QString whyInvalid(const SegmentList &list, double duration)
{
    const int count = static_cast<int>(list.segments.size());
    if (count > 0 && (list.selected < 0 || list.selected >= count))
        return tr("the selected segment does not exist");
    if (count == 0 && list.selected != -1)
        return tr("the selected segment does not exist");
    for (int i = 0; i < count; ++i) {
        const Segment &s = at(list, i);
        const QString which = tr("segment %1").arg(i + 1);
        if (!std::isfinite(s.in) || !std::isfinite(s.out))
            return tr("%1 has a time that is not a number").arg(which);
        if (s.in < -slack || s.out > duration + slack)
            return tr("%1 lies outside the movie").arg(which);
        if (s.out < s.in)
            return tr("%1 ends before it starts").arg(which);
    }
    const std::vector<int> order = byTime(list);
    for (size_t k = 1; k < order.size(); ++k) {
        if (at(list, order[k]).in < at(list, order[k - 1]).out - slack)
            return tr("segments %1 and %2 overlap").arg(order[k - 1] + 1).arg(order[k] + 1);
    }
    return {};
}

} // namespace trimora::segmentRules
