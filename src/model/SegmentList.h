#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace trimora {

// One stretch of the movie to cut: [in, out) in the movie's time, with a
// label of the user's choosing.
struct Segment
{
    double in = 0.0;
    double out = 0.0;
    QString label;
    bool operator==(const Segment &) const = default;
};

// The movie's segments in list order, which orders a joined file and numbers
// the files; time order decides neighbours and what may move where. Segments
// never overlap in time.
struct SegmentList
{
    std::vector<Segment> segments;
    int selected = -1; // an index into segments, -1 only when there are none
    bool operator==(const SegmentList &) const = default;
};

// Pure rules over a segment list; duration is the movie's length. An edit
// that cannot be made gives nothing.
namespace segmentRules {

// Indexes of the segments in time order.
std::vector<int> byTime(const SegmentList &list);

// How far segment index may reach: from the end of the segment before it in
// time (or 0) to the start of the one after it (or the movie's end).
struct Room
{
    double from = 0.0;
    double to = 0.0;
};
Room roomOf(const SegmentList &list, int index, double duration);

// The selected segment's In or Out moved to t, stopped by its neighbours and
// the movie's ends, In never past Out.
std::optional<SegmentList> withIn(const SegmentList &list, double t, double duration);
std::optional<SegmentList> withOut(const SegmentList &list, double t, double duration);

// The segment that holds t strictly inside it split there; the part after t
// comes next in the list and is selected.
std::optional<SegmentList> splitAt(const SegmentList &list, double t);
// A new segment from t to the next segment in time (or the end), when t lies
// in a gap; it joins the list after the last segment that starts before it.
std::optional<SegmentList> addAt(const SegmentList &list, double t, double duration);
// The selected segment removed; the one after it in the list is selected.
std::optional<SegmentList> withoutSelected(const SegmentList &list);
// The selected segment one place earlier (-1) or later (+1) in the list.
std::optional<SegmentList> movedInList(const SegmentList &list, int by);
// The selection moved to the previous (-1) or next (+1) segment in time.
std::optional<SegmentList> selectedInTime(const SegmentList &list, int by);

// Why a list read from outside cannot be the movie's: a time that is not a
// number or lies outside the movie (with a little slack for rounding), an
// empty or reversed segment, an overlap. Empty when it can.
QString whyInvalid(const SegmentList &list, double duration);

} // namespace segmentRules

} // namespace trimora
