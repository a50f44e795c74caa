#include "views/TimeFormat.h"

#include <cmath>
#include <cstdio>

QString formatTime(double seconds)
{
    if (std::isnan(seconds) || std::isinf(seconds) || seconds < 0)
        return QStringLiteral("00:00:00.000");
    // Past 2^63 the whole seconds no longer fit the integer type; no media
    // time gets there, but the conversion must stay defined.
    constexpr double limit = 9223372036854775808.0;
    const double whole = std::trunc(seconds);
    const long long total = whole < limit ? static_cast<long long>(whole) : 0;
    const auto ms = static_cast<long long>((seconds - whole) * 1000.0);
    const long long hours = total / 3600;
    const long long minutes = (total % 3600) / 60;
    const long long secs = total % 60;
    char text[64];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", hours, minutes, secs, ms);
    return QString::fromLatin1(text);
}
