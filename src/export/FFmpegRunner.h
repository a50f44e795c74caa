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

// "%.3f" independent of the C locale: three digits after a '.', rounded to
// nearest, sign kept.
QString formatSeconds(double seconds);

// The twelve arguments of a stream-copy cut. "-ss" stands before "-i" so the
// tool seeks the input and the container's edit list starts the picture at
// the requested time instead of at the next keyframe.
QStringList ffmpegArguments(const QUrl &inputURL, const QUrl &outputURL, double startTime,
                            double duration);

inline const QString ffmpegNotFoundMessage =
    QStringLiteral("Error: ffmpeg not found.\nInstall with: brew install ffmpeg");

using OutputSink = std::function<void(const QString &chunk)>;
using StatusSink = std::function<void(const QString &status)>;

// Starts the cut and returns at once. onOutput receives the tool's standard
// error chunk by chunk and onFinished the one status line; both run on the
// main thread, every chunk before the status. When no executable is found,
// onFinished runs before run() returns and onOutput never does. Nothing can
// stop a started child: it runs to its own end even if the caller (or the
// whole application) goes away.
void run(const QUrl &inputURL, const QUrl &outputURL, double startTime, double duration,
         OutputSink onOutput, StatusSink onFinished,
         const QStringList &searchPaths = ffmpegSearchPaths);

// The worker body: spawns executable, pumps its standard error, waits for it
// and delivers the status line. Blocks the calling thread until the child
// exits; call it off the main thread.
void runFFmpegProcess(const QString &executable, const QStringList &arguments, OutputSink onOutput,
                      StatusSink onFinished);

// Workers that have not yet delivered their status line.
int runningExports();
