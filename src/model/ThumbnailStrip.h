#pragma once

#include "core/Task.h"

#include <QImage>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <QVector>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace trimora {

class StripReader;
struct PictureRequest;
struct VideoIndex;

// The pictures of the timeline's strip: decoded on a worker as the view asks
// for them, kept while the movie is open (the least recently shown go first
// once they pass a memory budget). Main thread only; the view asks and
// draws, it never waits.
class ThumbnailStrip : public QObject
{
    Q_OBJECT
public:
    // What a slot of the strip shows for its time.
    enum class Pick {
        Keyframe, // the keyframe at or before it: cheap, for a coarse zoom
        Frame,    // the frame shown at it; the keyframe's until the frames are known
    };

    // Height of the pictures, in pixels; their width follows the movie's shape.
    static constexpr int pictureHeight = 72;
    // Memory the pictures may take, in bytes.
    static constexpr std::size_t budget = std::size_t(40) << 20;

    explicit ThumbnailStrip(QObject *parent = nullptr);
    ~ThumbnailStrip() override;

    // A newly loaded movie: the pictures of the one before are dropped.
    void setSource(const QUrl &url);
    // The movie's frames and keyframes, once read: pictures can then be
    // named before they are decoded, and frames be picked.
    void setIndex(std::shared_ptr<const VideoIndex> index);

    // The picture for a slot at time; a null image while it is not decoded,
    // or when it could not be.
    QImage picture(double time, Pick pick) const;
    // Asks for the pictures of these slots, the most wanted first, in place
    // of what was asked before. They come in with picturesChanged().
    void request(const QVector<double> &times, Pick pick);

    // Width over height of the pictures: 16:9 until the first is decoded.
    double aspect() const { return m_aspect; }
    bool hasFrameTimes() const;
    int count() const { return static_cast<int>(m_entries.size()); }
    std::size_t bytes() const { return m_bytes; }

Q_SIGNALS:
    void picturesChanged();

private:
    struct Entry
    {
        QImage image;
        mutable std::uint64_t used = 0;
    };
    // Without the keyframes, a picture found by seeking stands for the times
    // from the keyframe to the latest time that led to it.
    struct Cover
    {
        std::int64_t from;
        std::int64_t to;
        std::int64_t key;
    };

    const Entry *find(double time, Pick pick) const;
    std::vector<PictureRequest> missing(const QVector<double> &times, Pick pick) const;
    void startJob();
    void receive(const std::shared_ptr<StripReader> &reader, double asked, double time,
                 bool bySeeking, const QImage &image);
    void jobEnded(const TaskHandle &task);
    void runJob(std::function<void(StripReader &reader, const TaskHandle &task)> work);
    void keepWithinBudget();

    std::shared_ptr<StripReader> m_reader; // also tells this movie's results from others'
    std::shared_ptr<const VideoIndex> m_index;
    std::map<std::int64_t, Entry> m_entries; // by the frame's time in microseconds
    std::vector<Cover> m_covers;
    std::size_t m_bytes = 0;
    mutable std::uint64_t m_clock = 0;
    double m_aspect = 16.0 / 9.0;
    bool m_aspectKnown = false;

    TaskHandle m_job;
    std::vector<PictureRequest> m_jobRequests; // what the running job still has to do
    std::vector<PictureRequest> m_next;        // what to do once it ends
    QTimer m_idle; // lets the reader close once nobody has asked for a while
    bool m_readerClosed = true;
};

} // namespace trimora
