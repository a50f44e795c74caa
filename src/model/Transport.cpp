#include "model/Transport.h"

#include "media/Player.h"
#include "model/Movie.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace trimora {

namespace {

constexpr double tiny = 1e-6;

} // namespace

Transport::Transport(const Movie &movie, QObject *parent) : QObject(parent), m_movie(movie)
{}

Transport::~Transport()
{
    if (m_timeObserver)
        disconnect(m_timeObserver);
    if (m_endObserver)
        disconnect(m_endObserver);
}

void Transport::setCurrentTime(double value)
{
    if (m_currentTime == value)
        return;
    m_currentTime = value;
    Q_EMIT currentTimeChanged();
}

void Transport::setIsPlaying(bool value)
{
    if (m_isPlaying == value)
        return;
    m_isPlaying = value;
    Q_EMIT isPlayingChanged();
}

void Transport::open(const QString &path, const MediaTiming &timing)
{
    if (m_player) {
        m_player->pause();
        m_player->replaceItem(path, timing);
    } else {
        m_player = std::make_unique<Player>();
        m_player->replaceItem(path, timing);
        Q_EMIT playerChanged();
    }
    setIsPlaying(false);
    m_playbackSpeed = 1.0;
    m_requestedTime = 0.0;
    m_afterLanding.clear();
    setCurrentTime(0.0);
    observePlayer();
}

void Transport::observePlayer()
{
    if (m_timeObserver)
        disconnect(m_timeObserver);
    m_timeObserver = connect(m_player.get(), &Player::timeChanged, this, [this](double seconds) {
        if (m_requestedTime) {
            if (!m_isPlaying || seconds < *m_requestedTime)
                return;
            m_requestedTime.reset();
        }
        // libmpv may report a little past the movie's span at the end.
        setCurrentTime(std::clamp(seconds, 0.0, std::max(m_movie.videoDuration(), 0.0)));
        takeLanding();
    });
    if (m_endObserver)
        disconnect(m_endObserver);
    m_endObserver = connect(m_player.get(), &Player::endReached, this,
                            [this, item = m_player->currentItem()](quint64 ended) {
                                if (ended == item)
                                    setIsPlaying(false);
                            });
}

void Transport::seek(double to)
{
    whenLanded([this, to] { seekNow(to); });
}

void Transport::seekBy(double seconds)
{
    whenLanded([this, seconds] { seekNow(m_currentTime + seconds); });
}

void Transport::seekNow(double to)
{
    const double t = std::round(to * 1e6) / 1e6;
    // These exact comparisons send NaN to 0.
    const double duration = m_movie.videoDuration();
    const double m = duration < t ? duration : t;
    const double clamped = m >= 0 ? m : 0.0;
    m_requestedTime = clamped;
    if (m_player)
        m_player->seekExact(clamped, m_movie.frameStartAt(clamped));
    setCurrentTime(clamped);
}

void Transport::togglePlayPause()
{
    m_playbackSpeed = 1.0;
    if (!m_isPlaying) {
        if (m_player) {
            // At the end, by playing there or by a seek: play it again.
            if (m_player->isAtEnd() || m_currentTime >= m_movie.videoDuration())
                seekNow(0.0);
            m_player->setSpeed(m_playbackSpeed);
            m_player->play();
        }
        setIsPlaying(true);
    } else {
        if (m_player) {
            m_player->pause();
            m_player->setSpeed(m_playbackSpeed);
        }
        setIsPlaying(false);
    }
}

void Transport::playForward()
{
    if (!m_isPlaying) {
        togglePlayPause();
        return;
    }
    m_playbackSpeed = std::min(m_playbackSpeed * 2, 4.0);
    if (m_player)
        m_player->setSpeed(m_playbackSpeed);
}

void Transport::stepFrames(int frames)
{
    if (m_isPlaying)
        togglePlayPause();
    // Steps asked for before the last one lands add up in the player, unless
    // something else waits in between.
    if (m_afterLanding.empty())
        stepNow(frames);
    else
        m_afterLanding.push_back([this, frames] { stepNow(frames); });
}

void Transport::stepNow(int frames)
{
    // The playhead follows the frame the step lands on.
    m_requestedTime.reset();
    if (m_player)
        m_player->stepFrames(frames);
}

void Transport::goToPreviousKeyframe()
{
    whenLanded([this] {
        const QVector<double> &keyframes = m_movie.keyframes();
        const double shown = m_movie.frameStartAt(m_currentTime).value_or(m_currentTime);
        const auto at = std::lower_bound(keyframes.begin(), keyframes.end(), shown - tiny);
        if (at != keyframes.begin())
            seekNow(*std::prev(at));
    });
}

void Transport::goToNextKeyframe()
{
    whenLanded([this] {
        const QVector<double> &keyframes = m_movie.keyframes();
        const double shown = m_movie.frameStartAt(m_currentTime).value_or(m_currentTime);
        const auto at = std::upper_bound(keyframes.begin(), keyframes.end(), shown + tiny);
        if (at != keyframes.end())
            seekNow(*at);
    });
}

bool Transport::stepsInFlight() const
{
    return !m_requestedTime && m_player && m_player->isSeeking();
}

void Transport::whenLanded(std::function<void()> action)
{
    if (stepsInFlight() || !m_afterLanding.empty())
        m_afterLanding.push_back(std::move(action));
    else
        action();
}

void Transport::takeLanding()
{
    while (!m_afterLanding.empty() && !stepsInFlight()) {
        const std::function<void()> action = std::move(m_afterLanding.front());
        m_afterLanding.pop_front();
        action();
    }
}

} // namespace trimora
