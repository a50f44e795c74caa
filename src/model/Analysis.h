#pragma once

#include "core/WorkSlot.h"

#include <QObject>
#include <QUrl>
#include <QVector>

#include <limits>
#include <optional>

namespace trimora {

class Movie;
class SoundOverview;
class ThumbnailStrip;

// The aids for choosing marks, read from the window's movie on workers: the
// waveform around the playhead, the black/white frame scan, the timeline's
// pictures and the sound of the whole movie. Main thread only; a new movie
// drops whatever was read of the one before.
class Analysis : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVector<float> waveformSamples READ waveformSamples NOTIFY waveformSamplesChanged)
    Q_PROPERTY(double waveformStartTime READ waveformStartTime NOTIFY waveformStartTimeChanged)
    Q_PROPERTY(QVector<double> blackWhiteFrames READ blackWhiteFrames WRITE setBlackWhiteFrames
                   NOTIFY blackWhiteFramesChanged)
    Q_PROPERTY(bool isScanning READ isScanning WRITE setIsScanning NOTIFY isScanningChanged)
    Q_PROPERTY(bool hasScanned READ hasScanned WRITE setHasScanned NOTIFY hasScannedChanged)
    Q_PROPERTY(
        double scanProgress READ scanProgress WRITE setScanProgress NOTIFY scanProgressChanged)

public:
    explicit Analysis(const Movie &movie, QObject *parent = nullptr);

    QVector<float> waveformSamples() const { return m_waveformSamples; }
    double waveformStartTime() const { return m_waveformStartTime; }
    QVector<double> blackWhiteFrames() const { return m_blackWhiteFrames; }
    bool isScanning() const { return m_isScanning; }
    bool hasScanned() const { return m_hasScanned; }
    double scanProgress() const { return m_scanProgress; }
    // Centre of the last waveform read asked for; minus infinity before any.
    double lastWaveformCenter() const { return m_lastWaveformCenter; }
    ThumbnailStrip *thumbnails() const { return m_thumbnails; }
    SoundOverview *soundOverview() const { return m_soundOverview; }

    // Plain writes, for the scan's reports.
    void setBlackWhiteFrames(const QVector<double> &value);
    void setIsScanning(bool value);
    void setHasScanned(bool value);
    void setScanProgress(double value);

    // Forgets everything read and reads the new movie's first waveform window.
    void reset();
    // Reads a new window when the playhead moved far enough from the last one.
    void updateWaveformIfNeeded(double at);
    // Reads the window around center from the movie.
    void startWaveformRead(double center);
    void startScan();
    void cancelScan();
    // The marker before or after t, if any.
    std::optional<double> previousMarker(double t) const;
    std::optional<double> nextMarker(double t) const;

Q_SIGNALS:
    void waveformSamplesChanged();
    void waveformStartTimeChanged();
    void blackWhiteFramesChanged();
    void isScanningChanged();
    void hasScannedChanged();
    void scanProgressChanged();

private:
    void setWaveform(const QVector<float> &samples, double start);

    const Movie &m_movie;
    QVector<float> m_waveformSamples;
    double m_waveformStartTime = 0.0;
    QVector<double> m_blackWhiteFrames;
    bool m_isScanning = false;
    bool m_hasScanned = false;
    double m_scanProgress = 0.0;
    WorkSlot m_waveformRead;
    double m_lastWaveformCenter = -std::numeric_limits<double>::infinity();
    WorkSlot m_scan;
    ThumbnailStrip *m_thumbnails;
    SoundOverview *m_soundOverview;
};

} // namespace trimora
