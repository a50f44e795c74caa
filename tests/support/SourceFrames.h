#pragma once

#include <QImage>
#include <QString>
#include <QVector>

namespace trimora {
class Player;
}

// The video frames of a test movie as the ffmpeg program decodes them, to tell
// which frame a player shows: each frame's time from the movie's origin (the
// container's start time, as ffprobe reads it) and its top-left corner, where
// the lavfi test pattern prints a clock and a frame number that change with
// every frame.
struct SourceFrames
{
    double origin = 0.0;
    QVector<double> times;
    QVector<QImage> corners;

    bool isValid() const { return !times.isEmpty() && times.size() == corners.size(); }
    // The frame whose display span contains t: the last that starts at or
    // before it (a microsecond early still counts), or the first frame.
    int frameAt(double t) const;
    // The frame most like a picture of the whole frame, by the mean difference
    // of their corners; -1 for a picture of another size.
    int match(const QImage &picture) const;
    // The difference between a picture and frame i, 0..255.
    double difference(const QImage &picture, int i) const;
    // The frame the player shows, read back once it holds still (it reaches
    // the video output a few milliseconds after the player reports a landing).
    int shownBy(const trimora::Player &player) const;
};

SourceFrames decodeSourceFrames(const QString &name);
