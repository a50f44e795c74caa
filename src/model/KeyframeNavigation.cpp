#include "media/CutSource.h"
#include "model/VideoEditorViewModel.h"

#include <algorithm>

namespace trimora {

namespace {

constexpr double tiny = 1e-6;

// The start of the frame on screen at t: stepping goes from the picture the
// user sees, wherever in its span the playhead stands.
double shownFrameStart(const VideoIndex *index, double t)
{
    if (!index)
        return t;
    const auto after = std::upper_bound(index->framePts.begin(), index->framePts.end(), t + tiny);
    return after == index->framePts.begin() ? t : *std::prev(after);
}

} // namespace

void VideoEditorViewModel::goToPreviousKeyframe()
{
    whenLanded([this] {
        if (m_cutSourceURL != m_sourceURL)
            return; // the keyframes of the movie before
        const double shown = shownFrameStart(m_videoIndex.get(), m_currentTime);
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
        const double shown = shownFrameStart(m_videoIndex.get(), m_currentTime);
        const auto at = std::upper_bound(m_keyframes.begin(), m_keyframes.end(), shown + tiny);
        if (at != m_keyframes.end())
            seekNow(*at);
    });
}

} // namespace trimora
