#include "model/VideoEditorViewModel.h"

// Placeholder until waveform reading arrives.
void VideoEditorViewModel::updateWaveformIfNeeded(double)
{}
void VideoEditorViewModel::startWaveformRead(const QUrl &, double, double)
{}
