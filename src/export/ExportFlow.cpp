#include "model/VideoEditorViewModel.h"

// Placeholder until the export arrives.
void VideoEditorViewModel::exportCut()
{}
void VideoEditorViewModel::finishExport(const QUrl &, const QString &)
{}
QString VideoEditorViewModel::commandPreview() const
{
    return {};
}
