#include "media/Player.h"
#include "model/VideoEditorViewModel.h"

void VideoEditorViewModel::seek(double to)
{
    // These exact comparisons send NaN to 0.
    const double m = m_videoDuration < to ? m_videoDuration : to;
    const double clamped = m >= 0 ? m : 0.0;
    if (m_player)
        m_player->seekExact(clamped);
    setCurrentTime(clamped);
    updateWaveformIfNeeded(clamped);
}

void VideoEditorViewModel::togglePlayPause()
{
    if (!m_isPlaying) {
        if (m_player)
            m_player->play();
        setIsPlaying(true);
    } else {
        if (m_player)
            m_player->pause();
        setIsPlaying(false);
    }
}

void VideoEditorViewModel::setInPoint()
{
    setInPointValue(m_outPoint < m_currentTime ? m_outPoint : m_currentTime);
}

void VideoEditorViewModel::setOutPoint()
{
    setOutPointValue(m_currentTime <= m_inPoint ? m_inPoint : m_currentTime);
}
