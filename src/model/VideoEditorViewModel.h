#pragma once

#include "core/Task.h"

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVector>

#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace trimora {

class Player;
class SoundOverview;
class ThumbnailStrip;
struct CutPlan;
struct SourceLayout;
struct VideoIndex;
struct MediaTiming;

// The editor's single source of truth, one per window, confined to the main
// thread. Tracked fields notify only when a write changes the value (IEEE
// comparison, so a NaN always notifies); appends to the log always notify.
class VideoEditorViewModel : public QObject
{
    Q_OBJECT
    Q_MOC_INCLUDE("media/Player.h")
    Q_PROPERTY(Player *player READ player NOTIFY playerChanged)
    Q_PROPERTY(QUrl sourceURL READ sourceURL NOTIFY sourceURLChanged)
    Q_PROPERTY(
        double videoDuration READ videoDuration WRITE setVideoDuration NOTIFY videoDurationChanged)
    Q_PROPERTY(double currentTime READ currentTime WRITE setCurrentTime NOTIFY currentTimeChanged)
    Q_PROPERTY(double inPoint READ inPoint WRITE setInPointValue NOTIFY inPointChanged)
    Q_PROPERTY(double outPoint READ outPoint WRITE setOutPointValue NOTIFY outPointChanged)
    Q_PROPERTY(bool isPlaying READ isPlaying WRITE setIsPlaying NOTIFY isPlayingChanged)
    Q_PROPERTY(bool isLoaded READ isLoaded NOTIFY isLoadedChanged)
    Q_PROPERTY(bool isProcessing READ isProcessing WRITE setIsProcessing NOTIFY isProcessingChanged)
    Q_PROPERTY(QString logOutput READ logOutput WRITE setLogOutput NOTIFY logOutputChanged)
    Q_PROPERTY(QString outputPath READ outputPath WRITE setOutputPath NOTIFY outputPathChanged)
    Q_PROPERTY(QVector<float> waveformSamples READ waveformSamples WRITE setWaveformSamples NOTIFY
                   waveformSamplesChanged)
    Q_PROPERTY(double waveformStartTime READ waveformStartTime WRITE setWaveformStartTime NOTIFY
                   waveformStartTimeChanged)
    Q_PROPERTY(QVector<double> blackWhiteFrames READ blackWhiteFrames WRITE setBlackWhiteFrames
                   NOTIFY blackWhiteFramesChanged)
    Q_PROPERTY(bool isScanning READ isScanning WRITE setIsScanning NOTIFY isScanningChanged)
    Q_PROPERTY(bool hasScanned READ hasScanned WRITE setHasScanned NOTIFY hasScannedChanged)
    Q_PROPERTY(
        double scanProgress READ scanProgress WRITE setScanProgress NOTIFY scanProgressChanged)
    Q_PROPERTY(QString commandPreview READ commandPreview NOTIFY commandPreviewChanged)
    Q_PROPERTY(QVector<double> keyframes READ keyframes NOTIFY keyframesChanged)

public:
    explicit VideoEditorViewModel(QObject *parent = nullptr);
    ~VideoEditorViewModel() override;

    // --- tracked fields -------------------------------------------------
    Player *player() const { return m_player.get(); }
    QUrl sourceURL() const { return m_sourceURL; }
    double videoDuration() const { return m_videoDuration; }
    double currentTime() const { return m_currentTime; }
    double inPoint() const { return m_inPoint; }
    double outPoint() const { return m_outPoint; }
    bool isPlaying() const { return m_isPlaying; }
    bool isLoaded() const { return m_isLoaded; }
    bool isProcessing() const { return m_isProcessing; }
    QString logOutput() const { return m_logOutput; }
    QString outputPath() const { return m_outputPath; }
    QVector<float> waveformSamples() const { return m_waveformSamples; }
    double waveformStartTime() const { return m_waveformStartTime; }
    QVector<double> blackWhiteFrames() const { return m_blackWhiteFrames; }
    bool isScanning() const { return m_isScanning; }
    bool hasScanned() const { return m_hasScanned; }
    double scanProgress() const { return m_scanProgress; }
    // The video's keyframe times, ascending; empty until they have been read.
    QVector<double> keyframes() const { return m_keyframes; }

    void setSourceURL(const QUrl &value);
    void setVideoDuration(double value);
    void setCurrentTime(double value);
    // Plain writes of the marks (the timeline's bindings); the clamping mark
    // operations are setInPoint() / setOutPoint().
    void setInPointValue(double value);
    void setOutPointValue(double value);
    void setIsPlaying(bool value);
    void setIsLoaded(bool value);
    void setIsProcessing(bool value);
    void setLogOutput(const QString &value);
    void setOutputPath(const QString &value);
    void setWaveformSamples(const QVector<float> &value);
    void setWaveformStartTime(double value);
    void setBlackWhiteFrames(const QVector<double> &value);
    void setIsScanning(bool value);
    void setHasScanned(bool value);
    void setScanProgress(double value);

    // In-place append: always notifies, and costs the size of the chunk.
    void appendLog(const QString &chunk);

    // Centre of the last waveform read asked for; minus infinity before any.
    double lastWaveformCenter() const { return m_lastWaveformCenter; }

    // --- loading and playback observation --------------------------------
    void loadVideo(const QUrl &url);

    // --- transport and marks ----------------------------------------------
    // Times are kept to the microsecond, so sums of steps stay on the times a
    // person expects (ten steps of 0.1 s from 1 s end at 2 s exactly).
    // Moves, marks and steps act in the order they were asked for: while frame
    // steps are on their way, they wait for them to land.
    void seek(double to);
    void seekBy(double seconds);
    // Plays from the beginning when at the end, however the end was reached.
    void togglePlayPause();
    // Marks the playhead; refused with a notice where In would pass Out.
    void setInPoint();
    void setOutPoint();
    // The marks moved to a time, kept inside the movie and In <= Out.
    void setInPointAt(double time);
    void setOutPointAt(double time);
    // Pauses and moves by whole frames from the frame on show; the playhead
    // becomes that frame's own time once it is shown.
    void stepFrames(int frames);
    // Plays at normal speed; while playing, doubles the speed up to 4x.
    // togglePlayPause() returns to normal speed.
    void playForward();
    double playbackSpeed() const { return m_playbackSpeed; }

    // --- export -------------------------------------------------------------
    QString commandPreview() const;
    void exportCut();
    void finishExport(const QUrl &outputURL, const QString &result);
    void updateDefaultOutputPath(const QUrl &sourceURL);
    // Test seam: the places to look for the tool instead of the search path's
    // (never configuration).
    std::optional<QStringList> ffmpegLocationsForTesting;

    // --- analysis -------------------------------------------------------------
    void updateWaveformIfNeeded(double at);
    void startWaveformRead(const QUrl &url, double center, double duration);
    void startScan();
    void cancelScan();
    void goToPreviousMarker();
    void goToNextMarker();
    void goToPreviousKeyframe();
    void goToNextKeyframe();

    // --- what a cut needs of the source ------------------------------------
    // Reads the source's streams and keyframes on a worker; the keyframes
    // and the command preview follow when they arrive. An export started
    // before then reads them for itself.
    void startCutSourceRead(const QUrl &url);
    bool isCutSourceReady() const;
    // The loaded movie's frames and keyframes; null until read.
    std::shared_ptr<const VideoIndex> videoIndex() const;

    // --- finding one's way in a long movie ----------------------------------
    ThumbnailStrip *thumbnails() const { return m_thumbnails; }
    SoundOverview *soundOverview() const { return m_soundOverview; }

Q_SIGNALS:
    void playerChanged();
    void sourceURLChanged();
    void videoDurationChanged();
    void currentTimeChanged();
    void inPointChanged();
    void outPointChanged();
    void isPlayingChanged();
    void isLoadedChanged();
    void isProcessingChanged();
    void logOutputChanged();
    // Finer-grained companions of logOutputChanged: a view can follow the log
    // by appending chunks instead of re-reading the whole text.
    void logOutputReset();
    void logOutputAppended(const QString &chunk);
    void outputPathChanged();
    void waveformSamplesChanged();
    void waveformStartTimeChanged();
    void blackWhiteFramesChanged();
    void isScanningChanged();
    void hasScannedChanged();
    void scanProgressChanged();
    void commandPreviewChanged();
    void keyframesChanged();
    void videoIndexChanged();
    // A file handed to loadVideo() is not a playable movie; nothing else
    // changed. The message names the file.
    void loadFailed(const QString &message);
    // Something to tell the user for a moment: a mark that was refused, a
    // movie whose data ends early.
    void notice(const QString &message);

private:
    void finishLoading(const QUrl &url, const MediaTiming &timing);
    void setupObservers();
    // On a new load: the new movie's default, unless the user chose the path.
    void adoptDefaultOutputPath(const QUrl &sourceURL);
    void publishCutLayout(const TaskHandle &task, std::shared_ptr<const SourceLayout> layout);
    void publishVideoIndex(const TaskHandle &task, std::shared_ptr<const VideoIndex> index);
    void setKeyframes(const QVector<double> &value);
    CutPlan planCutFor(double in, double out, const QString &outputPath) const;

    std::unique_ptr<Player> m_player;
    QUrl m_sourceURL;
    double m_videoDuration = 1.0;
    double m_currentTime = 0.0;
    double m_inPoint = 0.0;
    double m_outPoint = 1.0;
    bool m_isPlaying = false;
    bool m_isLoaded = false;
    bool m_isProcessing = false;
    QString m_logOutput;
    QString m_outputPath;
    QVector<float> m_waveformSamples;
    double m_waveformStartTime = 0.0;
    QVector<double> m_blackWhiteFrames;
    bool m_isScanning = false;
    bool m_hasScanned = false;
    double m_scanProgress = 0.0;

    QMetaObject::Connection m_timeObserver;
    QMetaObject::Connection m_endObserver;
    TaskHandle m_waveformTask;
    double m_lastWaveformCenter = -std::numeric_limits<double>::infinity();
    TaskHandle m_scanTask;

    QVector<double> m_keyframes;
    QUrl m_cutSourceURL;
    TaskHandle m_cutSourceTask;
    bool m_cutSourceReady = false;
    std::shared_ptr<const SourceLayout> m_sourceLayout;
    std::shared_ptr<const VideoIndex> m_videoIndex;
    // The last default output path set, to tell it from a path the user chose.
    QString m_defaultOutputPath;
    quint64 m_loadRequest = 0; // the newest loadVideo() call; older probes are dropped
    // The time last asked for by a seek. While paused it stays the playhead
    // although the player reports the shown frame's own, earlier time; playing
    // on, the reports take over once they reach it.
    std::optional<double> m_requestedTime;
    // What was asked for while frame steps were on their way, in order.
    std::deque<std::function<void()>> m_afterLanding;
    bool stepsInFlight() const;
    void whenLanded(std::function<void()> action);
    void takeLanding();
    void seekNow(double to);
    // The start of the frame on screen at t, once the movie's frame times are
    // read: stepping and seeking go by the picture the user sees.
    std::optional<double> frameStartAt(double t) const;
    void stepNow(int frames);
    double m_playbackSpeed = 1.0;
    ThumbnailStrip *m_thumbnails;
    SoundOverview *m_soundOverview;
};

} // namespace trimora
