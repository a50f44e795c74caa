#include "core/MainThread.h"
#include "export/CutPlan.h"
#include "export/ExportOutcome.h"
#include "export/FFmpegRunner.h"
#include "export/OutputNaming.h"
#include "export/ShellCommand.h"
#include "media/OutputCheck.h"
#include "model/VideoEditorViewModel.h"

#include <QFile>
#include <QTimer>

#include <array>

namespace trimora {

namespace {

// An export that waits longer than this for the movie's keyframes says so.
constexpr int waitNoticeMs = 1000;

// Everything an export needs from the model, taken when the user asked: it
// then runs to its end whether the model is still there or not.
struct ExportJob
{
    QString source;          // absolute
    QString requestedOutput; // absolute
    double in = 0.0;
    double out = 0.0;
    QStringList locations;
};

using Model = MainThreadRef<VideoEditorViewModel>;

// An empty range's refusal stays up only until the marks move.
void clearWhenMarksMove(VideoEditorViewModel *model, const QString &line)
{
    auto connections = std::make_shared<std::array<QMetaObject::Connection, 2>>();
    const auto clear = [model, line, connections] {
        if (model->logOutput() == line)
            model->setLogOutput(QString());
        for (const QMetaObject::Connection &connection : *connections)
            QObject::disconnect(connection);
    };
    (*connections)[0] =
        QObject::connect(model, &VideoEditorViewModel::inPointChanged, model, clear);
    (*connections)[1] =
        QObject::connect(model, &VideoEditorViewModel::outPointChanged, model, clear);
}

// Main thread. Plans the cut with what is known of the source, writes the
// notes and starts the tool; the reports go to the model while it exists.
void startCut(const Model &model, const ExportJob &job,
              const std::shared_ptr<const SourceLayout> &layout,
              const std::shared_ptr<const VideoIndex> &index)
{
    const QString outputPath = uniqueOutputPath(job.requestedOutput);
    auto plan = std::make_shared<const CutPlan>(
        planCut({job.source, outputPath, job.in, job.out}, layout.get(), index.get()));
    VideoEditorViewModel *self = model.get();
    if (!plan->refusal.isEmpty()) {
        if (self) {
            const QString line = ExportOutcome::failure(plan->refusal).statusLine();
            self->appendLog(line); // nothing is written
            self->setIsProcessing(false);
            if (plan->refusal == emptyRangeRefusal)
                clearWhenMarksMove(self, line);
        }
        return;
    }
    if (self) {
        for (const QString &note : plan->notes)
            self->appendLog(note + QLatin1Char('\n'));
    }
    ToolRun tool;
    tool.arguments = [plan](const QString &path) { return plan->argumentsWritingTo(path); };
    tool.output = outputPath;
    tool.verify = [plan](const QString &written) {
        const OutputReport report =
            checkCutOutput(QFile::encodeName(written).toStdString(), plan->expected);
        return report.failure.empty() ? plan->shortfall(report.length)
                                      : QString::fromStdString(report.failure);
    };
    run(
        std::move(tool),
        [model](const QString &chunk) {
            if (VideoEditorViewModel *m = model.get())
                m->appendLog(chunk);
        },
        [model, plan, outputPath](ExportOutcome outcome, const QString &written) {
            if (outcome.succeeded)
                outcome.facts = plan->facts;
            if (VideoEditorViewModel *m = model.get())
                m->finishExport(QUrl::fromLocalFile(written.isEmpty() ? outputPath : written),
                                outcome.statusLine());
        },
        job.locations);
}

} // namespace

void VideoEditorViewModel::exportCut()
{
    if (m_outputPath.isEmpty() || m_sourceURL.isEmpty())
        return;
    setIsProcessing(true);
    setLogOutput(QString());
    const ExportJob job{absoluteLocalPath(m_sourceURL),
                        absoluteLocalPath(fileURLFromPath(m_outputPath)), m_inPoint, m_outPoint,
                        ffmpegLocationsForTesting.value_or(ffmpegLocations())};
    if (!findFFmpeg(job.locations)) {
        finishExport(QUrl::fromLocalFile(uniqueOutputPath(job.requestedOutput)),
                     ffmpegNotFoundMessage);
        return;
    }
    // The child outlives the model if the window closes: its reports then
    // find nobody and are dropped.
    const Model model(this);
    if (isCutSourceReady()) {
        startCut(model, job, m_sourceLayout, m_videoIndex);
        return;
    }
    // Asked before the load's own read has finished (a long movie): this
    // export reads the source for itself, so that neither another load nor
    // a closed window can take its keyframes away.
    auto started = std::make_shared<bool>(false);
    QTimer::singleShot(waitNoticeMs, this, [this, started] {
        if (!*started)
            appendLog(QStringLiteral("Reading the movie's keyframes…\n"));
    });
    runInBackground([model, job, started] {
        std::shared_ptr<const SourceLayout> layout;
        std::shared_ptr<const VideoIndex> index;
        readCutSource(
            QFile::encodeName(job.source).toStdString(), [] { return false; },
            [&](SourceLayout read) {
                layout = std::make_shared<const SourceLayout>(std::move(read));
            },
            [&](VideoIndex read) { index = std::make_shared<const VideoIndex>(std::move(read)); });
        postToMainThread([model, job, started, layout, index] {
            *started = true;
            startCut(model, job, layout, index);
        });
    });
}

CutPlan VideoEditorViewModel::planCutFor(double in, double out, const QString &outputPath) const
{
    const bool current = m_cutSourceURL == m_sourceURL;
    return planCut({absoluteLocalPath(m_sourceURL), outputPath, in, out},
                   current ? m_sourceLayout.get() : nullptr,
                   current ? m_videoIndex.get() : nullptr);
}

void VideoEditorViewModel::finishExport(const QUrl &outputURL, const QString &result)
{
    if (!m_logOutput.isEmpty())
        appendLog(QStringLiteral("\n"));
    // Compared with the path as the export resolved it, so a relative path
    // typed into the field is not reported as a different name.
    if (outputURL.toLocalFile() != absoluteLocalPath(fileURLFromPath(m_outputPath)))
        appendLog(QStringLiteral("Output: ") + outputURL.fileName() + QLatin1Char('\n'));
    appendLog(result);
    setIsProcessing(false);
    Q_EMIT commandPreviewChanged(); // the name it wrote is taken now
}

// The command the next export would run, with the name it would write now.
QString VideoEditorViewModel::commandPreview() const
{
    if (m_sourceURL.isEmpty() || m_outputPath.isEmpty())
        return {};
    const QString outputPath = uniqueOutputPath(absoluteLocalPath(fileURLFromPath(m_outputPath)));
    return shellCommand(planCutFor(m_inPoint, m_outPoint, outputPath).arguments,
                        ffmpegLocationsForTesting.value_or(ffmpegLocations()));
}

void VideoEditorViewModel::updateDefaultOutputPath(const QUrl &sourceURL)
{
    m_defaultOutputPath = defaultOutputPath(absoluteLocalPath(sourceURL));
    setOutputPath(m_defaultOutputPath);
}

void VideoEditorViewModel::adoptDefaultOutputPath(const QUrl &sourceURL)
{
    if (m_outputPath.isEmpty() || m_outputPath == m_defaultOutputPath)
        updateDefaultOutputPath(sourceURL);
}

} // namespace trimora
