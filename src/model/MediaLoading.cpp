#include "media/MediaProbe.h"
#include "media/Player.h"
#include "model/FileAccess.h"
#include "model/MainThread.h"
#include "model/VideoEditorViewModel.h"

#include <algorithm>

void VideoEditorViewModel::loadVideo(const QUrl &url)
{
    if (!securityScopedURL.isEmpty()) {
        FileAccess::stopAccessing(securityScopedURL);
        securityScopedURL.clear();
    }
    if (FileAccess::startAccessing(url))
        securityScopedURL = url;
    setSourceURL(url);

    if (waveformTask)
        waveformTask->cancel();
    waveformTask.reset();
    lastWaveformCenter = -std::numeric_limits<double>::infinity();
    setWaveformSamples({});
    setWaveformStartTime(0.0);

    if (scanTask)
        scanTask->cancel();
    scanTask.reset();
    setBlackWhiteFrames({});
    setIsScanning(false);
    setHasScanned(false);
    setScanProgress(0.0);

    const QString path = url.toLocalFile();
    if (m_player) {
        m_player->pause();
        m_player->replaceItem(path);
    } else {
        m_player = std::make_unique<Player>();
        m_player->replaceItem(path);
        Q_EMIT playerChanged();
    }
    setIsPlaying(false);
    setCurrentTime(0.0);
    setLogOutput(QString());

    runInBackground([model = MainThreadRef<VideoEditorViewModel>(this), url, path] {
        const std::optional<double> seconds = probeDuration(path);
        if (!seconds)
            return; // not a playable movie: the load is abandoned silently
        postToMainThread([model, url, duration = *seconds] {
            if (VideoEditorViewModel *self = model.get())
                self->finishLoading(url, duration);
        });
    });
}

void VideoEditorViewModel::finishLoading(const QUrl &url, double seconds)
{
    // A newer load has replaced this movie in the player: its duration and
    // marks would describe the wrong file.
    if (url != m_sourceURL)
        return;
    setVideoDuration(seconds);
    setInPointValue(0.0);
    setOutPointValue(seconds);
    setIsLoaded(true);
    adoptDefaultOutputPath(url);
    startCutSourceRead(url);
    setupObservers();
    lastWaveformCenter = 0.0;
    startWaveformRead(url, 0.0, seconds);
}

void VideoEditorViewModel::setupObservers()
{
    if (!m_player)
        return;
    if (timeObserver)
        disconnect(timeObserver);
    timeObserver = connect(m_player.get(), &Player::timeChanged, this, [this](double seconds) {
        // libmpv may report a little past the container's duration at the end.
        const double t = std::clamp(seconds, 0.0, std::max(m_videoDuration, 0.0));
        setCurrentTime(t);
        updateWaveformIfNeeded(t);
    });
    if (endObserver)
        disconnect(endObserver);
    endObserver = connect(m_player.get(), &Player::endReached, this,
                          [this, item = m_player->currentItem()](quint64 ended) {
                              if (ended == item)
                                  setIsPlaying(false);
                          });
}
