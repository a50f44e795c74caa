#include "model/TimeText.h"

#include <QCoreApplication>
#include <QList>

#include <algorithm>
#include <charconv>
#include <limits>

namespace trimora {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("TimeText", text);
}

TypedTime invalid(const QString &problem)
{
    TypedTime t;
    t.problem = problem;
    return t;
}

QString formsHint()
{
    return tr("Type a time as HH:MM:SS.mmm, MM:SS, seconds, or a frame number such as 1234f");
}

bool allDigits(QStringView s)
{
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
}

// Digits with an optional fraction ("5", "5.25", ".5"), as a number of
// seconds; nothing for anything else. Digits beyond what a double holds give
// infinity rather than a wrong finite value.
std::optional<double> decimal(QStringView s)
{
    const qsizetype dot = s.indexOf(QLatin1Char('.'));
    const QStringView whole = dot < 0 ? s : s.left(dot);
    const QStringView fraction = dot < 0 ? QStringView() : s.mid(dot + 1);
    if (!(whole.isEmpty() || allDigits(whole)) || (dot >= 0 && !allDigits(fraction)) ||
        (whole.isEmpty() && fraction.isEmpty()))
        return std::nullopt;
    // from_chars, unlike strtod, does not follow the user's locale's decimal comma.
    const QByteArray latin = s.toLatin1();
    double value = 0.0;
    if (std::from_chars(latin.begin(), latin.end(), value).ec == std::errc::result_out_of_range)
        return std::numeric_limits<double>::infinity();
    return value;
}

} // namespace

TypedTime parseTimeText(QStringView text)
{
    const QStringView s = text.trimmed();
    if (s.isEmpty())
        return invalid(formsHint());

    if (s.endsWith(QLatin1Char('f'), Qt::CaseInsensitive)) {
        const QStringView digits = s.chopped(1).trimmed();
        if (!allDigits(digits))
            return invalid(tr("A frame number is whole digits before the f, such as 1234f"));
        TypedTime t;
        t.kind = TypedTime::Kind::Frame;
        const QByteArray latin = digits.toLatin1();
        if (std::from_chars(latin.begin(), latin.end(), t.frame).ec ==
            std::errc::result_out_of_range)
            t.frame = std::numeric_limits<std::uint64_t>::max();
        return t;
    }

    const QList<QStringView> parts = s.split(QLatin1Char(':'));
    if (parts.size() > 3)
        return invalid(formsHint());
    const std::optional<double> seconds = decimal(parts.last());
    if (!seconds)
        return invalid(formsHint());
    double total = *seconds;
    if (parts.size() > 1) {
        if (!(total < 60))
            return invalid(tr("The seconds after a colon must be below 60"));
        for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
            if (!allDigits(parts[i]))
                return invalid(formsHint());
        }
        const double minutes = *decimal(parts[parts.size() - 2]);
        if (parts.size() == 3 && !(minutes < 60))
            return invalid(tr("The minutes of HH:MM:SS must be below 60"));
        const double hours = parts.size() == 3 ? *decimal(parts[0]) : 0.0;
        total += minutes * 60 + hours * 3600;
    }
    TypedTime t;
    t.kind = TypedTime::Kind::Seconds;
    t.seconds = total;
    return t;
}

std::optional<double> resolveTypedTime(const TypedTime &typed, double duration,
                                       const std::vector<double> &frameTimes)
{
    const double end = duration > 0 ? duration : 0.0;
    switch (typed.kind) {
    case TypedTime::Kind::Seconds:
        return std::clamp(typed.seconds, 0.0, end);
    case TypedTime::Kind::Frame: {
        if (frameTimes.empty())
            return std::nullopt;
        const std::size_t last = frameTimes.size() - 1;
        const double t = frameTimes[std::min<std::uint64_t>(typed.frame, last)];
        return std::clamp(t, 0.0, end);
    }
    case TypedTime::Kind::Invalid:
        break;
    }
    return std::nullopt;
}

} // namespace trimora
