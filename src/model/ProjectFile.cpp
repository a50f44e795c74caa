#include "model/ProjectFile.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <charconv>
#include <cmath>

namespace trimora {

namespace {

constexpr int formatVersion = 1;
const QLatin1String formatName("trimora-project");
// More would be no cut list a person made; it also bounds the work a hostile
// file can cause.
constexpr qsizetype maxSegments = 10000;
constexpr qsizetype maxLabelLength = 1000;
constexpr qsizetype maxTextSize = 16 * 1024 * 1024;
// Times beyond this are no movie's (about 31 700 years).
constexpr double maxSeconds = 1e12;

QString tr(const char *text)
{
    return QCoreApplication::translate("ProjectFile", text);
}

bool isTime(const QJsonValue &value)
{
    return value.isDouble() && std::isfinite(value.toDouble()) &&
           std::abs(value.toDouble()) <= maxSeconds;
}

// Seconds written to the microsecond, as the editor keeps them.
double microseconds(double seconds)
{
    return std::round(seconds * 1e6) / 1e6;
}

} // namespace

QByteArray writeProject(const Project &project)
{
    QJsonArray segments;
    for (const Segment &segment : project.segments.segments)
        segments.append(QJsonObject{{QStringLiteral("in"), microseconds(segment.in)},
                                    {QStringLiteral("out"), microseconds(segment.out)},
                                    {QStringLiteral("label"), segment.label}});
    const QJsonObject root{
        {QStringLiteral("format"), formatName},
        {QStringLiteral("version"), formatVersion},
        {QStringLiteral("movie"),
         QJsonObject{{QStringLiteral("path"), project.movie.relativePath},
                     {QStringLiteral("absolutePath"), project.movie.absolutePath},
                     {QStringLiteral("size"), double(project.movie.size)},
                     {QStringLiteral("duration"), microseconds(project.movie.duration)}}},
        {QStringLiteral("segments"), segments},
        {QStringLiteral("selected"), project.segments.selected},
        {QStringLiteral("export"), QJsonObject{{QStringLiteral("joined"), project.choice.joined},
                                               {QStringLiteral("cutAway"), project.choice.cutAway},
                                               {QStringLiteral("exact"), project.choice.exact}}},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::variant<Project, QString> readProject(const QByteArray &text)
{
    if (text.size() > maxTextSize)
        return tr("the file is too large to be a project");
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError)
        return tr("it is not a project file (%1 at byte %2)")
            .arg(error.errorString())
            .arg(error.offset);
    if (!document.isObject())
        return tr("it is not a project file");
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toString() != formatName)
        return tr("it is not a project file");
    const QJsonValue version = root.value(QStringLiteral("version"));
    if (!version.isDouble() || version.toDouble() != std::floor(version.toDouble()) ||
        version.toDouble() < 1)
        return tr("its version is not readable");
    if (version.toDouble() > formatVersion)
        return tr("it was written by a newer Trimora (format %1)").arg(version.toDouble());

    Project project;
    const QJsonValue movie = root.value(QStringLiteral("movie"));
    if (!movie.isObject())
        return tr("it names no movie");
    const QJsonObject m = movie.toObject();
    const QJsonValue path = m.value(QStringLiteral("path"));
    const QJsonValue absolute = m.value(QStringLiteral("absolutePath"));
    const QJsonValue size = m.value(QStringLiteral("size"));
    const QJsonValue duration = m.value(QStringLiteral("duration"));
    if (!path.isString() || !absolute.isString() ||
        (path.toString().isEmpty() && absolute.toString().isEmpty()))
        return tr("it names no movie");
    if (!size.isDouble() || !(size.toDouble() >= 0) || size.toDouble() > 9e15 ||
        !isTime(duration) || !(duration.toDouble() > 0))
        return tr("its movie's size or length is not readable");
    project.movie = {path.toString(), absolute.toString(), qint64(size.toDouble()),
                     duration.toDouble()};

    const QJsonValue segments = root.value(QStringLiteral("segments"));
    if (!segments.isArray())
        return tr("it holds no segment list");
    const QJsonArray list = segments.toArray();
    if (list.size() > maxSegments)
        return tr("it holds more than %1 segments").arg(maxSegments);
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QJsonObject s = list.at(i).toObject();
        const QJsonValue in = s.value(QStringLiteral("in"));
        const QJsonValue out = s.value(QStringLiteral("out"));
        const QJsonValue label = s.value(QStringLiteral("label"));
        if (!list.at(i).isObject() || !isTime(in) || !isTime(out) ||
            !(label.isString() || label.isUndefined()))
            return tr("segment %1 is not readable").arg(i + 1);
        if (label.toString().size() > maxLabelLength)
            return tr("segment %1 has a label too long").arg(i + 1);
        project.segments.segments.push_back(
            Segment{in.toDouble(), out.toDouble(), label.toString()});
    }
    const QJsonValue selected = root.value(QStringLiteral("selected"));
    const double chosen = selected.isDouble() ? selected.toDouble() : 0.0;
    project.segments.selected =
        list.isEmpty()                                                                ? -1
        : chosen >= 0 && chosen < double(list.size()) && chosen == std::floor(chosen) ? int(chosen)
                                                                                      : 0;

    const QJsonObject choice = root.value(QStringLiteral("export")).toObject();
    project.choice.joined = choice.value(QStringLiteral("joined")).toBool(false);
    project.choice.cutAway = choice.value(QStringLiteral("cutAway")).toBool(false);
    project.choice.exact = choice.value(QStringLiteral("exact")).toBool(false);
    return project;
}

namespace {

QByteArray csvField(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') &&
        !bytes.contains('\r'))
        return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

QByteArray csvSeconds(double seconds)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, microseconds(seconds),
                                      std::chars_format::fixed, 6);
    QByteArray text(buffer, int(result.ptr - buffer));
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return text;
}

// RFC 4180 records: fields split at commas, quoted fields may hold commas,
// doubled quotes and line breaks. Nothing when the quoting is broken.
std::optional<std::vector<std::vector<QByteArray>>> csvRecords(const QByteArray &text)
{
    std::vector<std::vector<QByteArray>> records(1);
    QByteArray field;
    bool quoted = false;
    bool wasQuoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
            continue;
        }
        if (c == '"') {
            if (!field.isEmpty() || wasQuoted)
                return std::nullopt; // a quote inside an unquoted field
            quoted = wasQuoted = true;
        } else if (c == ',') {
            records.back().push_back(std::exchange(field, {}));
            wasQuoted = false;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            records.back().push_back(std::exchange(field, {}));
            wasQuoted = false;
            records.emplace_back();
        } else {
            if (wasQuoted)
                return std::nullopt; // text after a closing quote
            field += c;
        }
    }
    if (quoted)
        return std::nullopt;
    if (!field.isEmpty() || wasQuoted || !records.back().empty())
        records.back().push_back(field);
    else
        records.pop_back(); // the line break that ends the last record
    return records;
}

std::optional<double> csvTime(const QByteArray &field)
{
    const QByteArray text = field.trimmed();
    double value = 0;
    const auto result = std::from_chars(text.constData(), text.constData() + text.size(), value,
                                        std::chars_format::fixed);
    if (text.isEmpty() || result.ec != std::errc() || result.ptr != text.constData() + text.size())
        return std::nullopt;
    if (!std::isfinite(value) || std::abs(value) > maxSeconds)
        return std::nullopt;
    return value;
}

} // namespace

QByteArray writeCutList(const SegmentList &list)
{
    QByteArray text = "start,end,label\r\n";
    for (const Segment &segment : list.segments)
        text += csvSeconds(segment.in) + ',' + csvSeconds(segment.out) + ',' +
                csvField(segment.label) + "\r\n";
    return text;
}

std::variant<SegmentList, QString> readCutList(const QByteArray &text)
{
    if (text.size() > maxTextSize)
        return tr("the file is too large to be a cut list");
    const auto records = csvRecords(text);
    if (!records)
        return tr("its quoting is broken");
    SegmentList list;
    for (size_t row = 0; row < records->size(); ++row) {
        const std::vector<QByteArray> &fields = (*records)[row];
        if (fields.size() == 1 && fields[0].trimmed().isEmpty())
            continue; // a blank line
        if (row == 0 && !fields.empty() && fields[0].trimmed().toLower() == "start")
            continue; // the header
        if (fields.size() < 2 || fields.size() > 3)
            return tr("line %1 is not start,end,label").arg(row + 1);
        const std::optional<double> start = csvTime(fields[0]);
        const std::optional<double> end = csvTime(fields[1]);
        if (!start || !end)
            return tr("line %1 has a time that is not a number of seconds").arg(row + 1);
        const QString label = fields.size() == 3 ? QString::fromUtf8(fields[2]) : QString();
        if (label.size() > maxLabelLength)
            return tr("line %1 has a label too long").arg(row + 1);
        if (static_cast<qsizetype>(list.segments.size()) >= maxSegments)
            return tr("it holds more than %1 segments").arg(maxSegments);
        list.segments.push_back(Segment{*start, *end, label});
    }
    if (list.segments.empty())
        return tr("it holds no segment");
    list.selected = 0;
    return list;
}

} // namespace trimora
