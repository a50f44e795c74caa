#include "model/Analysis.h"

#include "analysis/BlackWhiteScan.h"
#include "analysis/ScanLogic.h"
#include "analysis/Waveform.h"
#include "model/Movie.h"
#include "model/SoundOverview.h"
#include "model/ThumbnailStrip.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <functional>

namespace trimora {

namespace {

template <class T> bool same(const T &a, const T &b)
{
    return a == b;
}

// Element by element (and not QVector's ==, which hands memcmp a null pointer
// for an empty list in Qt 6.4).
template <class T> bool same(const QVector<T> &a, const QVector<T> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

template <class T, class Notify> void assign(T &field, const T &value, Notify notify)
{
    if (same(field, value))
        return;
    field = value;
    notify();
}

// Hands a scan's reports to the analysis through its ticket, so that a scan
// replaced by a newer start, or dropped with its movie, never writes again.
class ScanReports : public ScanSink
{
public:
    ScanReports(Analysis *analysis, WorkSlot::Ticket ticket)
        : m_analysis(analysis), m_ticket(std::move(ticket))
    {}

    void progress(double value) override
    {
        m_ticket.post([a = m_analysis, value] { a->setScanProgress(value); });
    }

    void finished(const std::vector<double> &markers) override
    {
        m_ticket.post([a = m_analysis, markers = QVector<double>(markers.begin(), markers.end())] {
            a->setBlackWhiteFrames(markers);
            a->setIsScanning(false);
            a->setHasScanned(true);
            a->setScanProgress(1.0);
        });
    }

    void cancelledInCoarsePass() override
    {
        m_ticket.post([a = m_analysis] { a->setIsScanning(false); });
    }

    void cancelledInRefinement(const std::vector<double> &coarseHits) override
    {
        m_ticket.post(
            [a = m_analysis, hits = QVector<double>(coarseHits.begin(), coarseHits.end())] {
                a->setBlackWhiteFrames(hits);
                a->setIsScanning(false);
            });
    }

private:
    Analysis *m_analysis;
    WorkSlot::Ticket m_ticket;
};

std::string localPath(const QUrl &url)
{
    return QFile::encodeName(url.toLocalFile()).toStdString();
}

} // namespace

Analysis::Analysis(const Movie &movie, QObject *parent)
    : QObject(parent), m_movie(movie), m_thumbnails(new ThumbnailStrip(this)),
      m_soundOverview(new SoundOverview(this))
{
    // The pictures go by the frames and keyframes once they are read.
    connect(&movie, &Movie::cutSourceChanged, this,
            [this] { m_thumbnails->setIndex(m_movie.videoIndex()); });
}

void Analysis::setBlackWhiteFrames(const QVector<double> &value)
{
    assign(m_blackWhiteFrames, value, [this] { Q_EMIT blackWhiteFramesChanged(); });
}

void Analysis::setIsScanning(bool value)
{
    assign(m_isScanning, value, [this] { Q_EMIT isScanningChanged(); });
}

void Analysis::setHasScanned(bool value)
{
    assign(m_hasScanned, value, [this] { Q_EMIT hasScannedChanged(); });
}

void Analysis::setScanProgress(double value)
{
    assign(m_scanProgress, value, [this] { Q_EMIT scanProgressChanged(); });
}

void Analysis::setWaveform(const QVector<float> &samples, double start)
{
    assign(m_waveformSamples, samples, [this] { Q_EMIT waveformSamplesChanged(); });
    assign(m_waveformStartTime, start, [this] { Q_EMIT waveformStartTimeChanged(); });
}

void Analysis::reset()
{
    m_waveformRead.cancel();
    setWaveform({}, 0.0);
    m_scan.cancel();
    setBlackWhiteFrames({});
    setIsScanning(false);
    setHasScanned(false);
    setScanProgress(0.0);
    m_lastWaveformCenter = 0.0;
    startWaveformRead(0.0);
    m_thumbnails->setSource(m_movie.sourceURL());
    m_soundOverview->start(m_movie.sourceURL(), m_movie.videoDuration());
}

void Analysis::updateWaveformIfNeeded(double at)
{
    if (!(std::abs(at - m_lastWaveformCenter) > waveform::refreshDistance))
        return;
    m_lastWaveformCenter = at;
    m_waveformRead.cancel();
    if (m_movie.sourceURL().isEmpty() || m_movie.videoDuration() <= 0)
        return;
    startWaveformRead(at);
}

void Analysis::startWaveformRead(double center)
{
    const WorkSlot::Ticket ticket = m_waveformRead.start();
    runInBackground([this, ticket, path = localPath(m_movie.sourceURL()), center,
                     duration = m_movie.videoDuration()] {
        std::optional<WaveformWindow> window =
            readWaveform(path, center, duration, [&ticket] { return ticket.isCancelled(); });
        if (window)
            ticket.post(
                [this, read = std::move(*window)] { setWaveform(read.values, read.start); });
    });
}

void Analysis::startScan()
{
    if (m_movie.sourceURL().isEmpty() || m_movie.videoDuration() <= 0)
        return;
    const WorkSlot::Ticket ticket = m_scan.start();
    setBlackWhiteFrames({});
    setIsScanning(true);
    setScanProgress(0.0);
    runInBackground(
        [this, ticket, path = localPath(m_movie.sourceURL()), duration = m_movie.videoDuration()] {
            ScanReports reports(this, ticket);
            scanBlackWhite(path, duration, ticket.task(), reports);
        });
}

void Analysis::cancelScan()
{
    // The scan's own report of where it stopped still arrives: the coarse hits
    // of a refinement cut short are kept.
    m_scan.stop();
    setIsScanning(false);
}

std::optional<double> Analysis::previousMarker(double t) const
{
    return scan::previousMarker({m_blackWhiteFrames.begin(), m_blackWhiteFrames.end()}, t);
}

std::optional<double> Analysis::nextMarker(double t) const
{
    return scan::nextMarker({m_blackWhiteFrames.begin(), m_blackWhiteFrames.end()}, t);
}

} // namespace trimora
