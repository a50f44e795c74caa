#pragma once

#include "core/WorkSlot.h"
#include "media/MediaProbe.h"

#include <QObject>
#include <QUrl>
#include <QVector>

#include <memory>
#include <optional>

namespace trimora {

struct ExactSource;
struct SourceLayout;
struct VideoIndex;

// The window's movie and what is known of it: the file and its timing, then,
// read on a worker after the load, its streams and the times of its video
// frames. Main thread only; results of a replaced file never arrive.
class Movie : public QObject
{
    Q_OBJECT
public:
    explicit Movie(QObject *parent = nullptr);
    ~Movie() override;

    QUrl sourceURL() const { return m_sourceURL; }
    double videoDuration() const { return m_timing.duration; }
    const MediaTiming &timing() const { return m_timing; }
    bool isLoaded() const { return m_isLoaded; }

    // Probes the file on a worker. Nothing changes until it is known to be a
    // movie: then probed() is sent, else notice(). A newer call replaces
    // an older one, whatever became of it.
    void probe(const QUrl &url);
    // Takes a probed file as the window's movie and starts reading its
    // streams and frames.
    void adopt(const QUrl &url, const MediaTiming &timing);
    void setLoaded();

    // What a cut needs of the source, once read; null before (or when the
    // file cannot be read that way: then ready with no index).
    std::shared_ptr<const SourceLayout> layout() const { return m_layout; }
    std::shared_ptr<const VideoIndex> videoIndex() const { return m_index; }
    bool isCutSourceReady() const { return m_cutSourceReady; }
    // Every packet of the picture with how it decodes, for joins and exact
    // cuts. It takes another pass over the whole file, so it is read only
    // once asked for; null before, and when the file cannot be read so.
    void readPackets();
    bool arePacketsRead() const { return m_packetsRead; }
    std::shared_ptr<const ExactSource> exactSource() const { return m_exact; }
    // Ascending keyframe times; empty until read.
    const QVector<double> &keyframes() const { return m_keyframes; }
    // The start of the frame on show at t, once the frame times are read.
    std::optional<double> frameStartAt(double t) const;
    // Reads streams and frames again (a test seam; adopt() does it).
    void startCutSourceRead();

Q_SIGNALS:
    void probed(const QUrl &url, const MediaTiming &timing);
    // For the user to read for a moment: the file handed to probe() is not a
    // playable movie, or the movie's data ends early. The message names it.
    void notice(const QString &message);
    void sourceURLChanged();
    void videoDurationChanged();
    void isLoadedChanged();
    // The layout, the video index or the packets arrived (or was dropped for a new file).
    void cutSourceChanged();
    void keyframesChanged();

private:
    QUrl m_sourceURL;
    MediaTiming m_timing{1.0, 0.0, 0.0, 0.0};
    bool m_isLoaded = false;
    WorkSlot m_probe;
    WorkSlot m_cutSource;
    bool m_cutSourceReady = false;
    WorkSlot m_packets;
    bool m_packetsRead = false;
    std::shared_ptr<const SourceLayout> m_layout;
    std::shared_ptr<const VideoIndex> m_index;
    std::shared_ptr<const ExactSource> m_exact;
    QVector<double> m_keyframes;
};

} // namespace trimora
