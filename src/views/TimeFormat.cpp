#include "views/TimeFormat.h"

#include <cmath>
#include <cstdio>

namespace trimora {

QString formatTime(double seconds)
{
    if (std::isnan(seconds) || std::isinf(seconds) || seconds < 0)
        return QStringLiteral("00:00:00.000");
    // Past 2^63 the whole seconds no longer fit the integer type; no media
    // time gets there, but the conversion must stay defined.
    constexpr double limit = 9223372036854775808.0;
    long long total = 0;
    long long ms = 0;
    // Milliseconds are truncated, never rounded up (59.9999 s stays 59.999),
    // but counted from the time rounded to the microsecond: the binary form of
    // 1.001, or of a frame time less the movie's origin, lies a hair below it
    // and would otherwise lose a millisecond.
    const double micros = std::round(seconds * 1e6);
    if (micros < limit) {
        const auto whole = static_cast<long long>(micros);
        total = whole / 1000000;
        ms = whole / 1000 % 1000;
    } else {
        const double whole = std::trunc(seconds);
        total = whole < limit ? static_cast<long long>(whole) : 0;
        ms = static_cast<long long>((seconds - whole) * 1000.0);
    }
    const long long hours = total / 3600;
    const long long minutes = (total % 3600) / 60;
    const long long secs = total % 60;
    char text[64];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", hours, minutes, secs, ms);
    return QString::fromLatin1(text);
}

} // namespace trimora
