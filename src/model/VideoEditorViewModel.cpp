#include "model/VideoEditorViewModel.h"

#include "media/Player.h"
#include "model/SoundOverview.h"
#include "model/ThumbnailStrip.h"

namespace trimora {

namespace {

// Stores value and runs notify only when it differs; operator== gives IEEE
// semantics for doubles (NaN never equal) and element-wise ones for vectors.
template <class T, class Notify> void assign(T &field, const T &value, Notify notify)
{
    if (field == value)
        return;
    field = value;
    notify();
}

} // namespace

VideoEditorViewModel::VideoEditorViewModel(QObject *parent)
    : QObject(parent), m_thumbnails(new ThumbnailStrip(this)),
      m_soundOverview(new SoundOverview(this))
{}

VideoEditorViewModel::~VideoEditorViewModel()
{
    // Workers hold only a weak reference and find the model gone; nobody waits.
    if (m_waveformTask)
        m_waveformTask->cancel();
    if (m_scanTask)
        m_scanTask->cancel();
    if (m_cutSourceTask)
        m_cutSourceTask->cancel();
    if (m_timeObserver && m_player)
        disconnect(m_timeObserver);
    if (m_endObserver)
        disconnect(m_endObserver);
}

void VideoEditorViewModel::setSourceURL(const QUrl &value)
{
    assign(m_sourceURL, value, [this] {
        Q_EMIT sourceURLChanged();
        Q_EMIT commandPreviewChanged();
    });
}

void VideoEditorViewModel::setVideoDuration(double value)
{
    assign(m_videoDuration, value, [this] { Q_EMIT videoDurationChanged(); });
}

void VideoEditorViewModel::setCurrentTime(double value)
{
    assign(m_currentTime, value, [this] { Q_EMIT currentTimeChanged(); });
}

void VideoEditorViewModel::setInPointValue(double value)
{
    assign(m_inPoint, value, [this] {
        Q_EMIT inPointChanged();
        Q_EMIT commandPreviewChanged();
    });
}

void VideoEditorViewModel::setOutPointValue(double value)
{
    assign(m_outPoint, value, [this] {
        Q_EMIT outPointChanged();
        Q_EMIT commandPreviewChanged();
    });
}

void VideoEditorViewModel::setIsPlaying(bool value)
{
    assign(m_isPlaying, value, [this] { Q_EMIT isPlayingChanged(); });
}

void VideoEditorViewModel::setIsLoaded(bool value)
{
    assign(m_isLoaded, value, [this] { Q_EMIT isLoadedChanged(); });
}

void VideoEditorViewModel::setIsProcessing(bool value)
{
    assign(m_isProcessing, value, [this] { Q_EMIT isProcessingChanged(); });
}

void VideoEditorViewModel::setLogOutput(const QString &value)
{
    assign(m_logOutput, value, [this] {
        Q_EMIT logOutputReset();
        Q_EMIT logOutputChanged();
    });
}

void VideoEditorViewModel::appendLog(const QString &chunk)
{
    m_logOutput.append(chunk);
    Q_EMIT logOutputAppended(chunk);
    Q_EMIT logOutputChanged();
}

void VideoEditorViewModel::setOutputPath(const QString &value)
{
    assign(m_outputPath, value, [this] {
        Q_EMIT outputPathChanged();
        Q_EMIT commandPreviewChanged();
    });
}

void VideoEditorViewModel::setWaveformSamples(const QVector<float> &value)
{
    assign(m_waveformSamples, value, [this] { Q_EMIT waveformSamplesChanged(); });
}

void VideoEditorViewModel::setWaveformStartTime(double value)
{
    assign(m_waveformStartTime, value, [this] { Q_EMIT waveformStartTimeChanged(); });
}

void VideoEditorViewModel::setBlackWhiteFrames(const QVector<double> &value)
{
    assign(m_blackWhiteFrames, value, [this] { Q_EMIT blackWhiteFramesChanged(); });
}

void VideoEditorViewModel::setIsScanning(bool value)
{
    assign(m_isScanning, value, [this] { Q_EMIT isScanningChanged(); });
}

void VideoEditorViewModel::setHasScanned(bool value)
{
    assign(m_hasScanned, value, [this] { Q_EMIT hasScannedChanged(); });
}

void VideoEditorViewModel::setScanProgress(double value)
{
    assign(m_scanProgress, value, [this] { Q_EMIT scanProgressChanged(); });
}

} // namespace trimora
