#pragma once

#include "export/ExportOutcome.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace trimora {

// Where ffmpeg is looked for, as a Linux program looks for another: in each
// directory of a PATH value, in order, then in /usr/bin and /usr/local/bin.
// Empty and relative entries are passed over: a program picked from whatever
// folder the application was started in would be a trap.
QStringList ffmpegLocations(const QString &pathVariable);
// The same for this process's PATH, read afresh on every call.
QStringList ffmpegLocations();

using ProgramTest = std::function<bool(const QString &path)>;
// True for a regular file this process may execute.
bool isProgram(const QString &path);
// The first of locations that passes the test.
std::optional<QString> findFFmpeg(const QStringList &locations = ffmpegLocations(),
                                  const ProgramTest &test = isProgram);

// A local file URL's path made absolute against the working directory, so a
// name such as "-y" or "x.mp4" can never be taken by the tool as an option or
// resolved against another folder.
QString absoluteLocalPath(const QUrl &fileURL);
QUrl fileURLFromPath(const QString &path);

inline const QString ffmpegNotFoundReason = QStringLiteral(
    "ffmpeg not found; install it with your package manager, e.g. sudo apt install ffmpeg");
inline const QString ffmpegNotFoundMessage = QStringLiteral("❌ Failed: ") + ffmpegNotFoundReason;

// One run of the tool.
struct ToolRun
{
    // Its arguments, writing to the given path.
    std::function<QStringList(const QString &writeTo)> arguments;
    // The name its output is to have; empty when it writes nothing of ours.
    // The tool writes a temporary beside it, which is given the name (or the
    // next free one) only once checked.
    QString output;
    // Runs on the worker after the tool exited with 0, given what it wrote:
    // an empty text confirms it, anything else is why it is no good.
    std::function<QString(const QString &written)> verify;
};

using OutputSink = std::function<void(const QString &chunk)>;
// The outcome and, for a success, the name the output was given.
using FinishSink = std::function<void(const ExportOutcome &outcome, const QString &written)>;

// Starts the tool and returns at once. onOutput receives its standard error
// chunk by chunk and onFinished the outcome; both run on the main thread,
// every chunk before the outcome. When no executable is found, onFinished
// runs before run() returns and onOutput never does. Nothing can stop a
// started run: the tool, its check and the naming of its output go to their
// end even if the caller goes away (see waitForRunningTools()).
void run(ToolRun job, OutputSink onOutput, FinishSink onFinished,
         const QStringList &locations = ffmpegLocations());

// The worker body: spawns executable, pumps its standard error, waits for it,
// verifies and names its output and delivers the outcome. Blocks the calling
// thread until all that is done; call it off the main thread.
void runFFmpegProcess(const QString &executable, const ToolRun &job, OutputSink onOutput,
                      FinishSink onFinished);

// Blocks until every run started has finished its work, so that an
// application closing its last window does not leave an output unnamed. The
// main thread's event loop is over by then: the tools' output is dropped.
void waitForRunningTools();

} // namespace trimora
