#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <vector>

namespace trimora {

// A time as a person types it: "HH:MM:SS.mmm", "MM:SS" (either with or
// without a fraction), plain seconds ("90", "12.5"), or a frame number with
// an "f" ("1234f", counted from 0). Pure: the editor's fields and the command
// line read times the same way.
struct TypedTime
{
    enum class Kind { Invalid, Seconds, Frame };
    Kind kind = Kind::Invalid;
    // Seconds: never negative; +infinity for a number too large to hold,
    // which a movie clamps like any other time past its end.
    double seconds = 0.0;
    // Frame: saturates at the largest value.
    std::uint64_t frame = 0;
    // Invalid: what is wrong, in words that can stand beside the field.
    QString problem;
};

TypedTime parseTimeText(QStringView text);

// Where a typed time lands in a movie of the given duration whose shown
// frames start at frameTimes (ascending, from the movie's origin): clamped
// into [0, duration]; a frame number past the last frame is the last frame.
// Nothing for text that is not a time, and for a frame number while the
// frame times are unknown (or the movie has no picture).
std::optional<double> resolveTypedTime(const TypedTime &typed, double duration,
                                       const std::vector<double> &frameTimes);

} // namespace trimora
