#include "analysis/WaveformFold.h"
#include "media/AudioReader.h"
#include "core/MainThread.h"
#include "model/VideoEditorViewModel.h"

#include <QFile>

#include <algorithm>
#include <cmath>

namespace {

// Reads one window of audio around center and hands the peaks to the model.
// Runs on a worker; the model is touched only in the posted step.
void loadWaveform(const MainThreadRef<VideoEditorViewModel> &model, const TaskHandle &task,
                  const QUrl &url, double center, double duration)
{
    const double start = std::max(center - VideoEditorViewModel::waveformHalfWindow, 0.0);
    const double end = std::min(center + VideoEditorViewModel::waveformHalfWindow, duration);
    if (!(start < end))
        return;

    WaveformFold fold;
    const AudioReadStatus status = readAudioRange(
        QFile::encodeName(url.toLocalFile()).toStdString(), start, end,
        [&fold](const std::int16_t *samples, std::size_t count) {
            foldSamples(fold, samples, count);
        },
        [&task] { return task->isCancelled(); });
    if (status == AudioReadStatus::NotStarted)
        return;
    QVector<float> values = finishFold(std::move(fold));
    if (task->isCancelled())
        return;
    postToMainThread([model, url, start, values = std::move(values)] {
        VideoEditorViewModel *self = model.get();
        if (!self || self->sourceURL().isEmpty() || self->sourceURL() != url)
            return;
        self->setWaveformSamples(values);
        self->setWaveformStartTime(start);
    });
}

} // namespace

void VideoEditorViewModel::updateWaveformIfNeeded(double at)
{
    if (!(std::abs(at - lastWaveformCenter) > 3.0))
        return;
    lastWaveformCenter = at;
    if (waveformTask)
        waveformTask->cancel();
    if (m_sourceURL.isEmpty())
        return;
    if (m_videoDuration <= 0)
        return;
    startWaveformRead(m_sourceURL, at, m_videoDuration);
}

void VideoEditorViewModel::startWaveformRead(const QUrl &url, double center, double duration)
{
    if (waveformTask)
        waveformTask->cancel();
    TaskHandle task = makeTask();
    waveformTask = task;
    runInBackground([model = MainThreadRef<VideoEditorViewModel>(this), task, url, center,
                     duration] { loadWaveform(model, task, url, center, duration); });
}
