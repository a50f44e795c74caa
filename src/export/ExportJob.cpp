#include "export/ExportJob.h"

#include "core/MainThread.h"
#include "export/AtomicOutput.h"
#include "export/FFmpegRunner.h"
#include "export/FailureReason.h"
#include "media/OutputCheck.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace trimora {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ExportJob", text);
}

// Exports started and not yet finished, for waitForRunningExports().
struct RunningExports
{
    std::mutex mutex;
    std::condition_variable done;
    int count = 0;
    // Set once the main thread only waits for them: their reports have nobody
    // left to read them.
    std::atomic<bool> unattended{false};
};

RunningExports &runningExports()
{
    static RunningExports *exports = new RunningExports; // outlives any static teardown
    return *exports;
}

class Running
{
public:
    Running()
    {
        const std::lock_guard lock(runningExports().mutex);
        ++runningExports().count;
    }
    ~Running()
    {
        RunningExports &exports = runningExports();
        const std::lock_guard lock(exports.mutex);
        if (--exports.count == 0)
            exports.done.notify_all();
    }
    Running(const Running &) = delete;
    Running &operator=(const Running &) = delete;
};

// The main thread runs every posted chunk in one pass of its event loop, so
// a tool that writes faster than the log can show would freeze the window:
// past two undelivered chunks the reader waits, and the pipe holds the
// tool back.
constexpr int maxUndeliveredChunks = 2;

// Hands the export's reports to the main thread, in order. The sinks are
// released there by the last delivery, so whatever they hold is destroyed
// where it was made.
class Reporter
{
public:
    explicit Reporter(ExportSinks sinks) : m_sinks(std::make_shared<Shared>())
    {
        m_sinks->sinks = std::move(sinks);
    }

    void log(const QString &text)
    {
        if (text.isEmpty() || runningExports().unattended.load() || !m_sinks->sinks.log)
            return;
        while (m_sinks->undelivered.load() >= maxUndeliveredChunks &&
               !runningExports().unattended.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ++m_sinks->undelivered;
        postToMainThread([sinks = m_sinks, text] {
            sinks->sinks.log(text);
            --sinks->undelivered;
        });
    }

    // In steps of a thousandth: finer ones show nothing and cost a repaint each.
    void progress(double fraction)
    {
        const int step = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 1000);
        if (step == m_lastStep || !m_sinks->sinks.progress)
            return;
        m_lastStep = step;
        postToMainThread([sinks = m_sinks, step] { sinks->sinks.progress(step / 1000.0); });
    }

    void fileDone(const FileResult &file)
    {
        if (m_sinks->sinks.fileDone)
            postToMainThread([sinks = m_sinks, file] { sinks->sinks.fileDone(file); });
    }

    void finished(const ExportResult &result)
    {
        postToMainThread([sinks = std::move(m_sinks), result] {
            if (sinks->sinks.finished)
                sinks->sinks.finished(result);
        });
    }

private:
    struct Shared
    {
        ExportSinks sinks;
        std::atomic<int> undelivered{0};
    };
    std::shared_ptr<Shared> m_sinks;
    int m_lastStep = -1;
};

double lengthOf(const OutputPlan &output)
{
    double length = 0.0;
    for (const ExportRange &range : output.ranges)
        length += std::max(0.0, range.out - range.in);
    return length;
}

// The ffmpeg program's copy of one range into path, checked.
QString writeCopy(const QString &executable, const CutPlan &plan, const QString &path,
                  Reporter &reporter, const std::function<void(double)> &progress,
                  const std::function<bool()> &stop)
{
    const QStringList arguments =
        QStringList{QStringLiteral("-progress"), QStringLiteral("pipe:1")} +
        plan.argumentsWritingTo(path);
    const double length = plan.length > 0 ? plan.length : 1.0;
    const ToolResult run = runTool(
        executable, arguments, [&reporter](const QString &chunk) { reporter.log(chunk); },
        [&](double seconds) { progress(seconds / length); }, stop);
    if (run.stopped)
        return tr("cancelled");
    if (!run.failure.isEmpty())
        return run.failure;
    // Exit status 0 only says the tool is content; the file has to show it.
    // A tool that could not finish its file may still exit with 0 (a full
    // disk at the trailer): what it said names the reason then.
    const OutputReport report =
        checkCutOutput(QFile::encodeName(path).toStdString(), plan.expected);
    QString failure = report.failure.empty() ? plan.shortfall(report.length)
                                             : QString::fromStdString(report.failure);
    if (const QString named = reasonInToolOutput(run.output);
        !failure.isEmpty() && !named.isEmpty())
        failure = named;
    return failure;
}

void runExport(ExportJob &job, const ExportPlan &plan, const std::optional<QString> &executable,
               Reporter &reporter)
{
    ExportResult result;
    result.planned = static_cast<int>(plan.outputs.size());
    double total = 0.0;
    for (const OutputPlan &output : plan.outputs)
        total += lengthOf(output);
    double done = 0.0;
    const auto stop = [&job] { return job.isCancelled(); };

    for (size_t i = 0; i < plan.outputs.size(); ++i) {
        if (job.isCancelled()) {
            result.cancelled = true;
            break;
        }
        const OutputPlan &output = plan.outputs[i];
        const double weight = lengthOf(output);
        const auto progress = [&](double fraction) {
            reporter.progress(total > 0 ? (done + std::clamp(fraction, 0.0, 1.0) * weight) / total
                                        : 0.0);
        };
        if (plan.outputs.size() > 1)
            reporter.log(tr("Segment %1 of %2: %3\n")
                             .arg(i + 1)
                             .arg(plan.outputs.size())
                             .arg(QFileInfo(output.requestedPath).fileName()));
        for (const QString &note : output.notes)
            reporter.log(note + QLatin1Char('\n'));

        WrittenFile written;
        if (!output.refusal.isEmpty()) {
            written.failure = output.refusal;
        } else if (output.copy && !executable) {
            written.failure = ffmpegNotFoundReason;
        } else {
            written = writeAtomically(
                output.requestedPath,
                [&](const QString &temporary) {
                    if (output.copy)
                        return writeCopy(*executable, *output.copy, temporary, reporter, progress,
                                         stop);
                    return output.writer(
                        temporary, {[&reporter](const QString &chunk) { reporter.log(chunk); },
                                    progress, stop});
                },
                plan.anyFreeName);
        }
        if (job.isCancelled() && !written.failure.isEmpty()) {
            result.cancelled = true;
            break;
        }
        FileResult file{static_cast<int>(i), written.path,
                        written.failure.isEmpty() ? ExportOutcome::success(output.facts)
                                                  : ExportOutcome::failure(written.failure),
                        written.path.isEmpty()
                            ? 0
                            : streamCount(QFile::encodeName(written.path).toStdString())};
        if (plan.outputs.size() > 1)
            reporter.log((file.outcome.succeeded ? QStringLiteral("✅ ") + written.path
                                                 : QStringLiteral("❌ ") + written.failure) +
                         QStringLiteral("\n\n"));
        result.files.push_back(file);
        reporter.fileDone(file);
        done += weight;
        progress(0.0);
    }
    reporter.finished(result);
}

} // namespace

bool ExportResult::succeeded() const
{
    if (cancelled || static_cast<int>(files.size()) != planned)
        return false;
    return std::all_of(files.begin(), files.end(),
                       [](const FileResult &file) { return file.outcome.succeeded; });
}

QString ExportResult::statusLine() const
{
    int written = 0;
    QStringList failures;
    for (const FileResult &file : files) {
        if (file.outcome.succeeded)
            ++written;
        else
            failures << (planned > 1
                             ? tr("segment %1: %2").arg(file.output + 1).arg(file.outcome.reason)
                             : file.outcome.reason);
    }
    if (cancelled) {
        if (written == 0)
            return tr("Cancelled — nothing was written");
        return tr("Cancelled — %1 of %2 files written").arg(written).arg(planned);
    }
    if (planned == 1 && files.size() == 1)
        return files.front().outcome.statusLine();
    if (failures.isEmpty())
        return ExportOutcome::success({tr("%1 files").arg(written)}).statusLine();
    return ExportOutcome::failure(failures.join(QStringLiteral("; ")) +
                                  tr(" (%1 of %2 files written)").arg(written).arg(planned))
        .statusLine();
}

std::shared_ptr<ExportJob> startExport(ExportPlan plan, const QStringList &locations,
                                       ExportSinks sinks)
{
    auto job = std::make_shared<ExportJob>();
    const std::optional<QString> executable = findFFmpeg(locations);
    auto reporter = std::make_shared<Reporter>(std::move(sinks));
    try {
        // Counted from here, so that no export can start unseen by a closing
        // application.
        std::thread([running = std::make_shared<Running>(), job, plan = std::move(plan), executable,
                     reporter] {
            runExport(*job, plan, executable, *reporter);
        }).detach();
    } catch (const std::system_error &error) {
        ExportResult result;
        result.planned = 1;
        result.files.push_back(
            {0, QString(),
             ExportOutcome::failure(
                 tr("could not start the export: %1").arg(QString::fromLocal8Bit(error.what())))});
        reporter->finished(result);
    }
    return job;
}

void waitForRunningExports()
{
    RunningExports &exports = runningExports();
    exports.unattended.store(true);
    std::unique_lock lock(exports.mutex);
    exports.done.wait(lock, [&] { return exports.count == 0; });
    exports.unattended.store(false);
}

} // namespace trimora
