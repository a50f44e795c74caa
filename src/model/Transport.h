#pragma once

#include <QMetaObject>
#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace trimora {

class Movie;
class Player;
struct MediaTiming;

// The player and the playhead: playing, seeking and stepping through the
// window's movie. Times are the movie's own, kept to the microsecond, so sums
// of steps stay on the times a person expects (ten steps of 0.1 s from 1 s end
// at 2 s exactly). Main thread only.
class Transport : public QObject
{
    Q_OBJECT
    Q_MOC_INCLUDE("media/Player.h")
    Q_PROPERTY(Player *player READ player NOTIFY playerChanged)
    Q_PROPERTY(double currentTime READ currentTime WRITE setCurrentTime NOTIFY currentTimeChanged)
    Q_PROPERTY(bool isPlaying READ isPlaying WRITE setIsPlaying NOTIFY isPlayingChanged)

public:
    explicit Transport(const Movie &movie, QObject *parent = nullptr);
    ~Transport() override;

    Player *player() const { return m_player.get(); }
    double currentTime() const { return m_currentTime; }
    bool isPlaying() const { return m_isPlaying; }
    double playbackSpeed() const { return m_playbackSpeed; }
    // Plain writes (no seek): what the view shows while the player catches up.
    void setCurrentTime(double value);
    void setIsPlaying(bool value);

    // Shows a new file paused at its start.
    void open(const QString &path, const MediaTiming &timing);

    // Moves, marks and steps act in the order they were asked for: while frame
    // steps are on their way, they wait for them to land.
    void seek(double to);
    void seekBy(double seconds);
    // Plays from the beginning when at the end, however the end was reached.
    void togglePlayPause();
    // Plays at normal speed; while playing, doubles the speed up to 4x.
    // togglePlayPause() returns to normal speed.
    void playForward();
    // Pauses and moves by whole frames from the frame on show; the playhead
    // becomes that frame's own time once it is shown.
    void stepFrames(int frames);
    void goToPreviousKeyframe();
    void goToNextKeyframe();
    // Runs action once the steps under way have landed (at once when none are).
    void whenLanded(std::function<void()> action);

Q_SIGNALS:
    void playerChanged();
    void currentTimeChanged();
    void isPlayingChanged();

private:
    bool stepsInFlight() const;
    void takeLanding();
    void seekNow(double to);
    void stepNow(int frames);
    void observePlayer();

    const Movie &m_movie;
    std::unique_ptr<Player> m_player;
    double m_currentTime = 0.0;
    bool m_isPlaying = false;
    double m_playbackSpeed = 1.0;
    QMetaObject::Connection m_timeObserver;
    QMetaObject::Connection m_endObserver;
    // The time last asked for by a seek. While paused it stays the playhead
    // although the player reports the shown frame's own, earlier time; playing
    // on, the reports take over once they reach it.
    std::optional<double> m_requestedTime;
    // What was asked for while frame steps were on their way, in order.
    std::deque<std::function<void()>> m_afterLanding;
};

} // namespace trimora
