#include "core/MainThread.h"
#include "media/MediaProbe.h"
#include "media/Player.h"
#include "model/SoundOverview.h"
#include "model/ThumbnailStrip.h"
#include "model/VideoEditorViewModel.h"

#include <algorithm>

namespace trimora {

void VideoEditorViewModel::loadVideo(const QUrl &url)
{
    // Nothing changes until the file is known to be a movie: a file that is
    // not one leaves the window wholly on the movie it shows.
    const quint64 request = ++m_loadRequest;
    const QString path = url.toLocalFile();
    runInBackground([model = MainThreadRef<VideoEditorViewModel>(this), url, path, request] {
        const std::optional<MediaTiming> timing = probeDuration(path);
        postToMainThread([model, url, request, timing] {
            VideoEditorViewModel *self = model.get();
            // A newer request replaces this one, whatever became of it.
            if (!self || request != self->m_loadRequest)
                return;
            if (timing)
                self->finishLoading(url, *timing);
            else
                Q_EMIT self->loadFailed(
                    tr("Could not open %1: not a playable movie").arg(url.fileName()));
        });
    });
}

void VideoEditorViewModel::finishLoading(const QUrl &url, const MediaTiming &timing)
{
    setSourceURL(url);

    if (m_waveformTask)
        m_waveformTask->cancel();
    m_waveformTask.reset();
    m_lastWaveformCenter = -std::numeric_limits<double>::infinity();
    setWaveformSamples({});
    setWaveformStartTime(0.0);

    if (m_scanTask)
        m_scanTask->cancel();
    m_scanTask.reset();
    setBlackWhiteFrames({});
    setIsScanning(false);
    setHasScanned(false);
    setScanProgress(0.0);

    const QString path = url.toLocalFile();
    if (m_player) {
        m_player->pause();
        m_player->replaceItem(path, timing);
    } else {
        m_player = std::make_unique<Player>();
        m_player->replaceItem(path, timing);
        Q_EMIT playerChanged();
    }
    setIsPlaying(false);
    m_playbackSpeed = 1.0;
    m_requestedTime = 0.0;
    m_afterLanding.clear();
    setCurrentTime(0.0);
    setLogOutput(QString());

    setVideoDuration(timing.duration);
    setInPointValue(0.0);
    setOutPointValue(timing.duration);
    setIsLoaded(true);
    adoptDefaultOutputPath(url);
    m_thumbnails->setSource(url);
    m_soundOverview->start(url, timing.duration);
    startCutSourceRead(url);
    setupObservers();
    m_lastWaveformCenter = 0.0;
    startWaveformRead(url, 0.0, timing.duration);
}

void VideoEditorViewModel::setupObservers()
{
    if (!m_player)
        return;
    if (m_timeObserver)
        disconnect(m_timeObserver);
    m_timeObserver = connect(m_player.get(), &Player::timeChanged, this, [this](double seconds) {
        if (m_requestedTime) {
            if (!m_isPlaying || seconds < *m_requestedTime)
                return;
            m_requestedTime.reset();
        }
        // libmpv may report a little past the movie's span at the end.
        const double t = std::clamp(seconds, 0.0, std::max(m_videoDuration, 0.0));
        setCurrentTime(t);
        updateWaveformIfNeeded(t);
        takeLanding();
    });
    if (m_endObserver)
        disconnect(m_endObserver);
    m_endObserver = connect(m_player.get(), &Player::endReached, this,
                            [this, item = m_player->currentItem()](quint64 ended) {
                                if (ended == item)
                                    setIsPlaying(false);
                            });
}

} // namespace trimora
