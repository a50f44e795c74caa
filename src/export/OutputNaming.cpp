#include "model/VideoEditorViewModel.h"

// Placeholder until output naming arrives.
void VideoEditorViewModel::updateDefaultOutputPath(const QUrl &)
{}
QUrl VideoEditorViewModel::uniqueOutputURL(const QUrl &requested) const
{
    return requested;
}
void VideoEditorViewModel::browseOutputPath()
{}
