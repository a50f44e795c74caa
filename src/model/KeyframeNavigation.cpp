#include "media/CutSource.h"
#include "model/VideoEditorViewModel.h"

#include <algorithm>

namespace trimora {

constexpr double tiny = 1e-6;

std::optional<double> VideoEditorViewModel::frameStartAt(double t) const
{
    if (!m_videoIndex || m_cutSourceURL != m_sourceURL)
        return std::nullopt;
    const std::vector<double> &starts = m_videoIndex->framePts;
    const auto after = std::upper_bound(starts.begin(), starts.end(), t + tiny);
    if (after == starts.begin())
        return std::nullopt;
    return *std::prev(after);
}

void VideoEditorViewModel::goToPreviousKeyframe()
{
    whenLanded([this] {
        if (m_cutSourceURL != m_sourceURL)
            return; // the keyframes of the movie before
        const double shown = frameStartAt(m_currentTime).value_or(m_currentTime);
        const auto at = std::lower_bound(m_keyframes.begin(), m_keyframes.end(), shown - tiny);
        if (at != m_keyframes.begin())
            seekNow(*std::prev(at));
    });
}

void VideoEditorViewModel::goToNextKeyframe()
{
    whenLanded([this] {
        if (m_cutSourceURL != m_sourceURL)
            return;
        const double shown = frameStartAt(m_currentTime).value_or(m_currentTime);
        const auto at = std::upper_bound(m_keyframes.begin(), m_keyframes.end(), shown + tiny);
        if (at != m_keyframes.end())
            seekNow(*at);
    });
}

} // namespace trimora
