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

inline const QString ffmpegNotFoundMessage = QStringLiteral(
    "Error: ffmpeg not found.\nInstall it with your package manager, e.g. sudo apt install ffmpeg");

using OutputSink = std::function<void(const QString &chunk)>;
using StatusSink = std::function<void(const QString &status)>;
// Runs on the worker after the tool exited with 0: an empty text confirms the
// success, anything else is the status line instead.
using OutputVerifier = std::function<QString()>;

// Starts the tool with the given arguments and returns at once. onOutput
// receives its standard error chunk by chunk and onFinished the one status
// line; both run on the main thread, every chunk before the status. When no
// executable is found, onFinished runs before run() returns and onOutput
// never does. Nothing can stop a started child: it runs to its own end even
// if the caller (or the whole application) goes away.
void run(const QStringList &arguments, OutputSink onOutput, StatusSink onFinished,
         OutputVerifier verify = {}, const QStringList &locations = ffmpegLocations());

// The worker body: spawns executable, pumps its standard error, waits for it,
// verifies a success and delivers the status line. Blocks the calling thread
// until the child exits; call it off the main thread.
void runFFmpegProcess(const QString &executable, const QStringList &arguments, OutputSink onOutput,
                      StatusSink onFinished, OutputVerifier verify = {});

} // namespace trimora
