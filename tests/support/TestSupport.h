#pragma once

#include <QImage>
#include <QString>
#include <QtTest>

#include <functional>
#include <memory>
#include <string>

class QWidget;
namespace trimora {
class VideoEditorViewModel;
struct VideoIndex;
} // namespace trimora

// Path of a generated test movie, e.g. media("movie.mp4"); mediaPath gives it
// in the file system's encoding for the media readers.
QString media(const QString &name);
std::string mediaPath(const QString &name);

// Spins the event loop until condition holds or timeoutMs passes.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 5000);

// True when no child process of this one runs (or waits to be reaped): every
// export's tool has ended.
bool noChildProcesses();

// A generated movie's frames and keyframes, as the editor reads them on load;
// null when they cannot be read.
std::shared_ptr<const trimora::VideoIndex> readVideoIndex(const QString &name);

// Loads a generated movie (or any path) and waits until its duration is known.
bool loadAndWait(trimora::VideoEditorViewModel &model, const QString &path, int timeoutMs = 10000);

// Shows a widget and waits until the window system has exposed it.
bool showExposed(QWidget *widget);

// The widget as drawn, one image pixel per logical pixel.
QImage grabbed(QWidget &widget);

// The container duration that ffprobe reads, or a negative value.
double probedDuration(const QString &path);

// A stand-in for the ffmpeg program: a shell script written into dir (a body
// with a "#!" line of its own replaces the shell). It is called with the
// export's arguments, the output path last.
QString writeStandIn(const QString &dir, const QString &name, const QByteArray &body,
                     bool executable = true);

// Shell lines for a stand-in: $ss, $t, $in and $out hold the values of -ss,
// -t, -i and the output path of the arguments it was given.
extern const QByteArray standInArguments;
// Shell lines for a stand-in that writes the given movie where the export
// asked for its output, so that the check of the written file finds a movie.
QByteArray standInWrites(const QString &movie);
