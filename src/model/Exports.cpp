#include "model/Exports.h"

#include "core/MainThread.h"
#include "export/ExactCutPlan.h"
#include "export/ExportJob.h"
#include "export/ExportSource.h"
#include "export/FFmpegRunner.h"
#include "export/OutputNaming.h"
#include "export/ShellCommand.h"
#include "model/Movie.h"
#include "model/Segments.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace trimora {

namespace {

// An export that waits longer than this for the movie's keyframes says so.
constexpr int waitNoticeMs = 1000;

} // namespace

Exports::Exports(Movie &movie, const Segments &segments, QObject *parent)
    : QObject(parent), m_movie(movie), m_segments(segments)
{
    const auto marksMoved = [this] {
        // A refusal of the marks as they were is stale once they move.
        if (!m_refusalShown.isEmpty() && m_logOutput == m_refusalShown)
            setLogOutput(QString());
        m_refusalShown.clear();
        Q_EMIT commandPreviewChanged();
    };
    connect(&segments, &Segments::segmentsChanged, this, marksMoved);
    connect(&movie, &Movie::cutSourceChanged, this, &Exports::commandPreviewChanged);
    // Joins and exact cuts need the packets: read once such an export is chosen.
    connect(&segments, &Segments::segmentsChanged, this, &Exports::askForPackets);
    connect(&movie, &Movie::cutSourceChanged, this, &Exports::askForPackets);
    connect(this, &Exports::choiceChanged, this, &Exports::askForPackets);
    connect(&movie, &Movie::sourceURLChanged, this, &Exports::commandPreviewChanged);
}

Exports::~Exports() = default;

void Exports::setLogOutput(const QString &value)
{
    if (m_logOutput == value)
        return;
    m_logOutput = value;
    Q_EMIT logOutputReset();
    Q_EMIT logOutputChanged();
}

void Exports::appendLog(const QString &chunk)
{
    m_logOutput.append(chunk);
    Q_EMIT logOutputAppended(chunk);
    Q_EMIT logOutputChanged();
}

void Exports::setOutputPath(const QString &value)
{
    if (m_outputPath == value)
        return;
    m_outputPath = value;
    Q_EMIT outputPathChanged();
    Q_EMIT commandPreviewChanged();
}

void Exports::setChoice(const ExportChoice &choice)
{
    if (m_choice == choice)
        return;
    m_choice = choice;
    Q_EMIT choiceChanged();
    Q_EMIT commandPreviewChanged();
}

void Exports::setProcessing(bool value)
{
    if (m_isProcessing == value)
        return;
    m_isProcessing = value;
    Q_EMIT isProcessingChanged();
}

void Exports::setProgress(double value)
{
    if (m_progress == value)
        return;
    m_progress = value;
    Q_EMIT progressChanged();
}

QStringList Exports::locations() const
{
    return ffmpegLocationsForTesting.value_or(ffmpegLocations());
}

ExportRequest Exports::request() const
{
    ExportRequest request;
    request.source = absoluteLocalPath(m_movie.sourceURL());
    request.duration = m_movie.videoDuration();
    for (const Segment &segment : m_segments.list().segments)
        request.ranges.push_back({segment.in, segment.out, segment.label});
    request.choice = m_choice;
    request.requestedOutput = absoluteLocalPath(fileURLFromPath(m_outputPath));
    return request;
}

bool Exports::needsPackets() const
{
    return m_choice.exact || m_choice.cutAway ||
           (m_choice.joined && m_segments.list().segments.size() > 1);
}

void Exports::askForPackets()
{
    if (needsPackets())
        m_movie.readPackets();
}

ExportPlan Exports::planFor(const ExportRequest &request) const
{
    return planExportOf(request, {m_movie.layout(), m_movie.videoIndex(), m_movie.exactSource()},
                        pathExists);
}

QString Exports::commandPreview() const
{
    if (m_movie.sourceURL().isEmpty() || m_outputPath.isEmpty())
        return {};
    if (needsPackets() && !m_movie.arePacketsRead())
        return tr("# Reading the movie…");
    const ExportPlan plan = planFor(request());
    return exportScript(plan, locations());
}

QString Exports::copyNote(int index) const
{
    const SegmentList &list = m_segments.list();
    if (index < 0 || index >= static_cast<int>(list.segments.size()) || m_outputPath.isEmpty())
        return {};
    const Segment &segment = list.segments[static_cast<size_t>(index)];
    if (m_choice.exact)
        return exactNote(segment);
    if (m_choice.cutAway)
        return cutAwayNote(segment);
    // A join shows every segment's frames from its keyframe on.
    const CutPlan cut = planCut({absoluteLocalPath(m_movie.sourceURL()),
                                 absoluteLocalPath(fileURLFromPath(m_outputPath)), segment.in,
                                 segment.out, m_choice.joined && list.segments.size() > 1},
                                m_movie.layout().get(), m_movie.videoIndex().get());
    if (!cut.refusal.isEmpty())
        return cut.refusal;
    return cut.facts.isEmpty() ? tr("exact") : cut.facts.join(QStringLiteral("; "));
}

QString Exports::exactNote(const Segment &segment) const
{
    if (!m_movie.arePacketsRead())
        return tr("reading the movie…");
    if (!m_choice.cutAway)
        return planExactCut(m_movie.exactSource(), {{segment.in, segment.out}}, m_outputPath)
            .summary;
    // What is written are the parts around it: cut exactly, or all copied.
    std::vector<CutRange> kept;
    for (const ExportRange &range : rangesBetween(request().ranges, m_movie.videoDuration(), 0.0))
        kept.push_back({range.in, range.out});
    const ExactCutPlan plan = planExactCut(m_movie.exactSource(), kept, m_outputPath);
    return plan.refusal.isEmpty() ? tr("cut away exactly") : plan.summary;
}

QString Exports::cutAwayNote(const Segment &segment) const
{
    // What is kept around a segment that is cut away may show some of it: the
    // part after it starts at a keyframe, the part before may run on.
    const QString source = absoluteLocalPath(m_movie.sourceURL());
    const QString output = absoluteLocalPath(fileURLFromPath(m_outputPath));
    QStringList facts;
    const std::vector<ExportRange> around =
        rangesBetween(request().ranges, m_movie.videoDuration(), 0.0);
    for (const ExportRange &kept : around) {
        // One part alone is a copy cut like any other; parts joined show
        // their lead-ins.
        const CutPlan cut = planCut({source, output, kept.in, kept.out, around.size() > 1},
                                    m_movie.layout().get(), m_movie.videoIndex().get());
        if (std::abs(kept.out - segment.in) < 1e-6 && cut.endsAt && *cut.endsAt > segment.in)
            facts << tr("the part before it shows %1 s of it")
                         .arg(formatSeconds(*cut.endsAt - segment.in));
        if (std::abs(kept.in - segment.out) < 1e-6 && cut.startsAt && *cut.startsAt < segment.out)
            facts << tr("the part after it shows its last %1 s, from the keyframe at %2")
                         .arg(formatSeconds(segment.out - std::max(*cut.startsAt, segment.in)),
                              clockTime(std::max(*cut.startsAt, segment.in)));
    }
    if (facts.isEmpty())
        return tr("cut away exactly");
    facts.front()[0] = facts.front()[0].toUpper();
    return facts.join(QStringLiteral("; "));
}

void Exports::exportCut()
{
    if (m_outputPath.isEmpty() || m_movie.sourceURL().isEmpty() || m_isProcessing)
        return;
    setProcessing(true);
    setProgress(0.0);
    setLogOutput(QString());
    m_refusalShown.clear();
    const ExportRequest job = request();
    if (m_movie.isCutSourceReady() && (!needsPackets() || m_movie.arePacketsRead())) {
        start(MainThreadRef<Exports>(this), planFor(job), locations());
        return;
    }
    // Asked before the load's own read has finished (a long movie): this
    // export reads what is missing for itself, so that neither another load
    // nor a closed window can take its keyframes away.
    auto started = std::make_shared<bool>(false);
    QTimer::singleShot(waitNoticeMs, this, [this, started] {
        if (!*started)
            appendLog(tr("Reading the movie's keyframes…\n"));
    });
    ExportSource known;
    if (m_movie.isCutSourceReady())
        known = {m_movie.layout(), m_movie.videoIndex(), m_movie.exactSource()};
    runInBackground([self = MainThreadRef<Exports>(this), job, started, locations = locations(),
                     packets = needsPackets(), known] {
        const ExportSource source = readExportSource(job.source, packets, known);
        // Started whether or not the window is still there to see it.
        postToMainThread([self, job, started, source, locations] {
            *started = true;
            start(self, planExportOf(job, source, pathExists), locations);
        });
    });
}

void Exports::start(const MainThreadRef<Exports> &self, ExportPlan plan,
                    const QStringList &locations)
{
    if (plan.outputs.size() == 1 && !plan.outputs.front().refusal.isEmpty()) {
        // Nothing to write: said at once, and gone once the marks change.
        if (Exports *exports = self.get()) {
            const QString line = ExportOutcome::failure(plan.outputs.front().refusal).statusLine();
            exports->appendLog(line);
            exports->m_refusalShown = line;
            exports->setProcessing(false);
        }
        return;
    }
    ExportSinks sinks;
    sinks.log = [self](const QString &chunk) {
        if (Exports *exports = self.get())
            exports->appendLog(chunk);
    };
    sinks.progress = [self](double fraction) {
        if (Exports *exports = self.get())
            exports->setProgress(fraction);
    };
    sinks.finished = [self](const ExportResult &result) {
        if (Exports *exports = self.get())
            exports->finish(result);
    };
    std::shared_ptr<ExportJob> job = startExport(std::move(plan), locations, std::move(sinks));
    if (Exports *exports = self.get())
        exports->m_job = std::move(job);
}

void Exports::cancelExport()
{
    if (m_job)
        m_job->cancel();
}

void Exports::finish(const ExportResult &result)
{
    m_job.reset();
    if (!m_logOutput.isEmpty() && !m_logOutput.endsWith(QStringLiteral("\n\n")))
        appendLog(QStringLiteral("\n"));
    // One file under another name than asked for (it was taken) says so;
    // compared with the path as the export resolved it, so a relative path
    // typed into the field is not reported as a different name.
    if (result.planned == 1 && result.files.size() == 1 && !result.files.front().path.isEmpty() &&
        result.files.front().path != absoluteLocalPath(fileURLFromPath(m_outputPath)))
        appendLog(QStringLiteral("Output: ") + QFileInfo(result.files.front().path).fileName() +
                  QLatin1Char('\n'));
    appendLog(result.statusLine());
    setProgress(result.succeeded() ? 1.0 : 0.0);
    setProcessing(false);
    Q_EMIT commandPreviewChanged(); // the names it wrote are taken now
}

void Exports::updateDefaultOutputPath(const QUrl &sourceURL)
{
    m_defaultOutputPath = defaultOutputPath(absoluteLocalPath(sourceURL));
    setOutputPath(m_defaultOutputPath);
}

void Exports::adoptDefaultOutputPath(const QUrl &sourceURL)
{
    if (m_outputPath.isEmpty() || m_outputPath == m_defaultOutputPath)
        updateDefaultOutputPath(sourceURL);
}

} // namespace trimora
