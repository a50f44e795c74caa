#include "media/Player.h"
#include "model/VideoEditorViewModel.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace trimora {

void VideoEditorViewModel::seek(double to)
{
    whenLanded([this, to] { seekNow(to); });
}

void VideoEditorViewModel::seekBy(double seconds)
{
    whenLanded([this, seconds] { seekNow(m_currentTime + seconds); });
}

void VideoEditorViewModel::seekNow(double to)
{
    const double t = std::round(to * 1e6) / 1e6;
    // These exact comparisons send NaN to 0.
    const double m = m_videoDuration < t ? m_videoDuration : t;
    const double clamped = m >= 0 ? m : 0.0;
    m_requestedTime = clamped;
    if (m_player)
        m_player->seekExact(clamped, frameStartAt(clamped));
    setCurrentTime(clamped);
    updateWaveformIfNeeded(clamped);
}

void VideoEditorViewModel::togglePlayPause()
{
    m_playbackSpeed = 1.0;
    if (!m_isPlaying) {
        if (m_player) {
            // At the end, by playing there or by a seek: play it again.
            if (m_player->isAtEnd() || m_currentTime >= m_videoDuration)
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

void VideoEditorViewModel::playForward()
{
    if (!m_isPlaying) {
        togglePlayPause();
        return;
    }
    m_playbackSpeed = std::min(m_playbackSpeed * 2, 4.0);
    if (m_player)
        m_player->setSpeed(m_playbackSpeed);
}

void VideoEditorViewModel::stepFrames(int frames)
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

void VideoEditorViewModel::stepNow(int frames)
{
    // The playhead follows the frame the step lands on.
    m_requestedTime.reset();
    if (m_player)
        m_player->stepFrames(frames);
}

void VideoEditorViewModel::setInPoint()
{
    whenLanded([this] {
        if (m_currentTime > m_outPoint)
            Q_EMIT notice(tr("In cannot be after Out"));
        else
            setInPointValue(m_currentTime);
    });
}

void VideoEditorViewModel::setOutPoint()
{
    whenLanded([this] {
        if (m_currentTime < m_inPoint)
            Q_EMIT notice(tr("Out cannot be before In"));
        else
            setOutPointValue(m_currentTime);
    });
}

void VideoEditorViewModel::setInPointAt(double time)
{
    // Kept to the microsecond like seeks; NaN goes to 0.
    const double t = std::round(time * 1e6) / 1e6;
    setInPointValue(m_outPoint < t ? m_outPoint : (t > 0 ? t : 0.0));
}

void VideoEditorViewModel::setOutPointAt(double time)
{
    const double t = std::round(time * 1e6) / 1e6;
    const double capped = m_videoDuration < t ? m_videoDuration : t;
    setOutPointValue(capped > m_inPoint ? capped : m_inPoint);
}

bool VideoEditorViewModel::stepsInFlight() const
{
    return !m_requestedTime && m_player && m_player->isSeeking();
}

void VideoEditorViewModel::whenLanded(std::function<void()> action)
{
    if (stepsInFlight() || !m_afterLanding.empty())
        m_afterLanding.push_back(std::move(action));
    else
        action();
}

void VideoEditorViewModel::takeLanding()
{
    while (!m_afterLanding.empty() && !stepsInFlight()) {
        const std::function<void()> action = std::move(m_afterLanding.front());
        m_afterLanding.pop_front();
        action();
    }
}

} // namespace trimora
