#include "model/VideoEditorViewModel.h"

// Placeholder until the frame scan arrives.
void VideoEditorViewModel::startScan()
{}
void VideoEditorViewModel::cancelScan()
{}
void VideoEditorViewModel::goToPreviousMarker()
{}
void VideoEditorViewModel::goToNextMarker()
{}
