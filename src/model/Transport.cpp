#include "media/Player.h"
#include "model/VideoEditorViewModel.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace trimora {

void VideoEditorViewModel::seek(double to)
{
    // The steps waited for will not land now: what was marked, marks here.
    for (const auto &key : std::exchange(m_afterLanding, {}))
        if (const Mark *mark = std::get_if<Mark>(&key))
            placeMark(*mark);
    const double t = std::round(to * 1e6) / 1e6;
    // These exact comparisons send NaN to 0.
    const double m = m_videoDuration < t ? m_videoDuration : t;
    const double clamped = m >= 0 ? m : 0.0;
    m_requestedTime = clamped;
    if (m_player)
        m_player->seekExact(clamped);
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
                seek(0.0);
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
    // The playhead follows the frame the step lands on.
    m_requestedTime.reset();
    if (!m_afterLanding.empty())
        m_afterLanding.emplace_back(frames);
    else if (m_player)
        m_player->stepFrames(frames);
}

void VideoEditorViewModel::setInPoint()
{
    requestMark(Mark::In);
}

void VideoEditorViewModel::setOutPoint()
{
    requestMark(Mark::Out);
}

void VideoEditorViewModel::requestMark(Mark mark)
{
    if (!m_requestedTime && m_player && m_player->isSeeking())
        m_afterLanding.emplace_back(mark);
    else
        placeMark(mark);
}

void VideoEditorViewModel::placeMark(Mark mark)
{
    if (mark == Mark::In)
        setInPointValue(m_outPoint < m_currentTime ? m_outPoint : m_currentTime);
    else
        setOutPointValue(m_currentTime <= m_inPoint ? m_inPoint : m_currentTime);
}

void VideoEditorViewModel::takeLanding()
{
    while (!m_afterLanding.empty()) {
        const std::variant<Mark, int> key = m_afterLanding.front();
        m_afterLanding.erase(m_afterLanding.begin());
        if (const Mark *mark = std::get_if<Mark>(&key)) {
            placeMark(*mark);
        } else if (m_player) {
            m_player->stepFrames(std::get<int>(key));
            return;
        }
    }
}

} // namespace trimora
