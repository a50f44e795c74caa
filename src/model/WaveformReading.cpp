#include "analysis/Waveform.h"
#include "core/MainThread.h"
#include "model/VideoEditorViewModel.h"

#include <QFile>

#include <cmath>

namespace trimora {

void VideoEditorViewModel::updateWaveformIfNeeded(double at)
{
    if (!(std::abs(at - m_lastWaveformCenter) > waveform::refreshDistance))
        return;
    m_lastWaveformCenter = at;
    if (m_waveformTask)
        m_waveformTask->cancel();
    if (m_sourceURL.isEmpty())
        return;
    if (m_videoDuration <= 0)
        return;
    startWaveformRead(m_sourceURL, at, m_videoDuration);
}

void VideoEditorViewModel::startWaveformRead(const QUrl &url, double center, double duration)
{
    if (m_waveformTask)
        m_waveformTask->cancel();
    TaskHandle task = makeTask();
    m_waveformTask = task;
    runInBackground(
        [model = MainThreadRef<VideoEditorViewModel>(this), task, url, center, duration] {
            std::optional<WaveformWindow> window =
                readWaveform(QFile::encodeName(url.toLocalFile()).toStdString(), center, duration,
                             [&task] { return task->isCancelled(); });
            if (!window)
                return;
            postToMainThread([model, url, read = std::move(*window)] {
                VideoEditorViewModel *self = model.get();
                // Only for the movie it was read from.
                if (!self || self->m_sourceURL.isEmpty() || self->m_sourceURL != url)
                    return;
                self->setWaveformSamples(read.values);
                self->setWaveformStartTime(read.start);
            });
        });
}

} // namespace trimora
