#pragma once

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

// How one run of the tool ended: why it failed (empty when it exited with 0),
// whether it was stopped, and its last words.
struct ToolResult
{
    QString failure;
    bool stopped = false;
    QString output;
};

// Runs the tool with arguments to its end, blocking: call it off the main
// thread. Its standard error goes to onOutput chunk by chunk, decoded as
// UTF-8, as it comes; the positions of its own progress reports (the tool
// writes them to standard output when given "-progress pipe:1") go to
// onProgress, in seconds of output. stop is asked every tenth of a second;
// once it says so, the tool and whatever it started are terminated (killed
// after a grace second).
ToolResult runTool(const QString &executable, const QStringList &arguments,
                   const std::function<void(const QString &chunk)> &onOutput,
                   const std::function<void(double seconds)> &onProgress = {},
                   const std::function<bool()> &stop = {});

} // namespace trimora
