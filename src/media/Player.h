#pragma once

#include "media/MediaProbe.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

struct mpv_handle;
struct mpv_event;

namespace trimora {

// One libmpv instance: the window's player. Owns the handle; every libmpv
// event is drained on the main thread, where all of this object's methods run.
// It speaks the movie's own time: container time minus the origin given with
// the item, so that 0 is the movie's start in every container.
class Player : public QObject
{
    Q_OBJECT
public:
    // Surface: frames go to a VideoRenderer, sound to the system.
    // SilentSurface: frames go to a VideoRenderer, no sound (tests).
    // None: no video or audio output at all (headless use, tests).
    enum class Output { Surface, SilentSurface, None };
    static void setDefaultOutput(Output output);

    explicit Player(QObject *parent = nullptr);
    ~Player() override;

    // Replaces the current item; keeps the paused state and plays at normal
    // speed. With Output::Surface the file is opened once a renderer is
    // attached, since the video output cannot start without one.
    void replaceItem(const QString &path, const MediaTiming &timing);
    quint64 currentItem() const { return m_item; }
    bool hasVideo() const { return m_timing.frameDuration > 0; }

    void play();
    void pause();
    void setSpeed(double speed);

    // Shows the frame whose display span contains the time (the last frame
    // that starts at or before it). Seeks are coalesced: at most one is in
    // flight and the most recent target wins, so scrubbing never falls behind.
    // Given that frame's own start, it is shown however unevenly the frames
    // are spaced (millisecond timestamps of 30 fps video); without it the
    // nominal frame length is assumed.
    void seekExact(double seconds, std::optional<double> frameStart = std::nullopt);
    // Moves by whole frames from the frame on show (after any seek still under
    // way), exactly. Steps given while one is under way add up.
    void stepFrames(int frames);

    // The time of the frame on show (while paused) or of the playhead, as last
    // reported; nothing until the item has shown its first frame.
    std::optional<double> lastReportedTime() const { return m_time; }
    bool isAtEnd() const { return m_atEnd; }
    bool isSeeking() const
    {
        return m_seekInFlight || m_pendingSeek || m_pendingSteps != 0 || !m_timeKnown;
    }

    // The decoded frame on show, or a null image. Blocks while libmpv copies it.
    QImage currentFrame() const;

    // For VideoRenderer only.
    std::shared_ptr<mpv_handle> handle() const { return m_handle; }
    void attachRenderer();
    void detachRenderer();

Q_SIGNALS:
    // The playhead of the current item moved: playback, or the landing of a
    // seek or step. Never sent while a seek is under way, so a report of where
    // the player was cannot follow a request to go elsewhere.
    void timeChanged(double seconds);
    // The current item played to its end.
    void endReached(quint64 item);
    // replaceItem() was called: what the surface shows is about to change.
    void itemChanged();

private:
    void drainEvents();
    void handleEvent(const mpv_event &event);
    void handlePropertyChange(const mpv_event &event, bool current);
    void handleReply(const mpv_event &event, bool current);
    void openPendingFile();
    void issueSeek();
    // The target libmpv is given to show the frame whose span holds seconds.
    double aimFor(double seconds) const;
    void seekTo(double target);
    void takeTime(double containerSeconds);
    void setPaused(bool paused);

    std::shared_ptr<mpv_handle> m_handle;
    Output m_output;
    bool m_rendererAttached = false;
    std::optional<QString> m_pendingPath;
    MediaTiming m_timing;

    quint64 m_item = 0;           // bumped by every replaceItem
    quint64 m_loadsInFlight = 0;  // loadfile commands without a reply yet
    qint64 m_requestedEntry = -1; // playlist entry of the latest loadfile
    qint64 m_startedEntry = -2;   // playlist entry mpv is playing
    bool m_fileLoaded = false;

    bool m_seekInFlight = false;
    // libmpv has taken the seek in flight: a playback restart from now on is
    // its landing. One before (the file's own start) is not.
    bool m_seekTaken = false;
    std::optional<double> m_pendingSeek; // libmpv's target
    int m_pendingSteps = 0;
    bool m_timeKnown = true; // false from a landing until its frame's time is in

    std::optional<double> m_time;
    bool m_atEnd = false;
};

} // namespace trimora
