#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

// The only fixed locations the application knows; the executable search path
// of the environment is deliberately not consulted.
extern const QStringList ffmpegSearchPaths;

// The first entry of searchPaths that exists (existence only, not whether it
// is executable). Tests hand in their own list.
std::optional<QString> findFFmpeg(const QStringList &searchPaths = ffmpegSearchPaths);

// A local file URL's path made absolute against the working directory, so a
// name such as "-y" or "x.mp4" can never be taken by the tool as an option or
// resolved against another folder.
QString absoluteLocalPath(const QUrl &fileURL);
QUrl fileURLFromPath(const QString &path);

inline const QString ffmpegNotFoundMessage =
    QStringLiteral("Error: ffmpeg not found.\nInstall with: brew install ffmpeg");

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
         OutputVerifier verify = {}, const QStringList &searchPaths = ffmpegSearchPaths);

// The worker body: spawns executable, pumps its standard error, waits for it,
// verifies a success and delivers the status line. Blocks the calling thread
// until the child exits; call it off the main thread.
void runFFmpegProcess(const QString &executable, const QStringList &arguments, OutputSink onOutput,
                      StatusSink onFinished, OutputVerifier verify = {});

// Workers that have not yet delivered their status line.
int runningExports();
