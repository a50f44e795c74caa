#include "model/VideoEditorViewModel.h"

// Until the movie's keyframe positions are read, five seconds either way.
void VideoEditorViewModel::goToPreviousKeyframe()
{
    seek(m_currentTime - 5.0);
}

void VideoEditorViewModel::goToNextKeyframe()
{
    seek(m_currentTime + 5.0);
}
