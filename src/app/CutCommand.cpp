#include "app/CommandLine.h"

#include "export/ExportJob.h"
#include "export/ExportSource.h"
#include "export/FFmpegRunner.h"
#include "export/OutputNaming.h"
#include "media/MediaProbe.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace trimora {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CommandLine", text);
}

void say(std::FILE *stream, const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// A path as the user gave it (or built from what they gave), on one line.
QString printable(QString path)
{
    return path.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
}

// A written file's name as the user would have typed it: in the folder of the
// movie as they named it.
QString asGiven(const CutCommand &command, const QString &written)
{
    if (!command.output.isEmpty())
        return command.output;
    const qsizetype slash = command.movie.lastIndexOf(QLatin1Char('/'));
    return command.movie.left(slash + 1) + QFileInfo(written).fileName();
}

QString rangesText(const std::vector<ExportRange> &ranges)
{
    QStringList parts;
    for (const ExportRange &range : ranges)
        parts << clockTime(range.in) + QStringLiteral("–") + clockTime(range.out);
    return parts.join(QStringLiteral(" + "));
}

} // namespace

int runCutCommand(const CutCommand &command)
{
    const QString movie = QFileInfo(command.movie).absoluteFilePath();
    const std::optional<MediaTiming> timing = probeDuration(movie);
    if (!timing) {
        say(stderr, tr("trimora: %1 cannot be read as a movie").arg(printable(command.movie)));
        return 2;
    }
    const ExportSource source =
        readExportSource(movie, command.join || command.cutAway || command.exact);
    const std::variant<SegmentList, QString> cuts =
        resolveCuts(command.cuts, timing->duration,
                    source.index ? source.index->framePts : std::vector<double>{});
    if (const QString *why = std::get_if<QString>(&cuts)) {
        say(stderr, QStringLiteral("trimora: ") + *why);
        return 2;
    }
    ExportRequest request;
    request.source = movie;
    request.duration = timing->duration;
    for (const Segment &segment : std::get<SegmentList>(cuts).segments)
        request.ranges.push_back({segment.in, segment.out, {}});
    request.choice = {command.join, command.cutAway, command.exact};
    request.copyWhenNotExact = false;
    if (command.output.isEmpty()) {
        request.requestedOutput = defaultOutputPath(movie);
    } else {
        request.requestedOutput = QFileInfo(command.output).absoluteFilePath();
        request.anyFreeName = false;
        if (pathExists(request.requestedOutput)) {
            say(stderr,
                tr("trimora: %1 exists; it is never replaced").arg(printable(command.output)));
            return 2;
        }
    }
    const ExportPlan plan = planExportOf(request, source, pathExists);

    QEventLoop loop;
    int status = 0;
    ExportSinks sinks;
    sinks.fileDone = [&](const FileResult &file) {
        const OutputPlan &output = plan.outputs[static_cast<size_t>(file.output)];
        if (!file.outcome.succeeded) {
            say(stderr,
                QStringLiteral("trimora: %1: %2")
                    .arg(printable(asGiven(command, output.requestedPath)), file.outcome.reason));
            return;
        }
        QString line = QStringLiteral("wrote %1: %2, %3 streams")
                           .arg(printable(asGiven(command, file.path)), rangesText(output.ranges))
                           .arg(file.streams);
        if (!output.facts.isEmpty())
            line += QStringLiteral("; ") + output.facts.join(QStringLiteral("; "));
        say(stdout, line);
    };
    sinks.finished = [&](const ExportResult &result) {
        status = result.succeeded() ? 0 : 1;
        loop.quit();
    };
    startExport(plan, ffmpegLocations(), std::move(sinks));
    loop.exec();
    return status;
}

} // namespace trimora
