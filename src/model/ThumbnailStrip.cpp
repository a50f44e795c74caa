#include "model/ThumbnailStrip.h"

#include "analysis/StripReader.h"
#include "core/MainThread.h"
#include "media/CutSource.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <set>

namespace trimora {

namespace {

// Times of one frame, as the index and the decoder give them, agree closer.
constexpr std::int64_t kSlack = 100; // microseconds

std::int64_t micros(double seconds)
{
    return std::isfinite(seconds) ? std::llround(std::clamp(seconds, -1e12, 1e12) * 1e6) : 0;
}

// The last of times at or before t, or the first when t is before them all.
double atOrBefore(const std::vector<double> &times, double t)
{
    const auto after = std::upper_bound(times.begin(), times.end(), t + 1e-6);
    return after == times.begin() ? times.front() : *std::prev(after);
}

bool sameRequest(const PictureRequest &a, const PictureRequest &b)
{
    return a.keyframeAtOrBefore == b.keyframeAtOrBefore && std::abs(a.time - b.time) < 1e-4;
}

QImage toImage(const Thumbnail &picture)
{
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.rgb.size() < std::size_t(picture.width) * picture.height * 3)
        return {};
    const QImage packed(picture.rgb.data(), picture.width, picture.height, picture.width * 3,
                        QImage::Format_RGB888);
    // A copy in the format the screen draws fastest.
    return packed.convertToFormat(QImage::Format_RGB32);
}

} // namespace

ThumbnailStrip::ThumbnailStrip(QObject *parent) : QObject(parent)
{
    m_idle.setSingleShot(true);
    m_idle.setInterval(5000);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (m_job || !m_reader || m_readerClosed)
            return;
        m_readerClosed = true;
        runJob([](StripReader &reader, const TaskHandle &) { reader.close(); });
    });
}

ThumbnailStrip::~ThumbnailStrip()
{
    if (m_job)
        m_job->cancel();
}

void ThumbnailStrip::setSource(const QUrl &url)
{
    if (m_job)
        m_job->cancel();
    m_job.reset();
    m_jobRequests.clear();
    m_next.clear();
    m_idle.stop();
    m_readerClosed = true; // opened by the first read
    m_entries.clear();
    m_covers.clear();
    m_bytes = 0;
    m_aspect = 16.0 / 9.0;
    m_aspectKnown = false;
    m_index.reset();
    m_reader.reset();
    if (!url.isEmpty())
        m_reader = std::make_shared<StripReader>(QFile::encodeName(url.toLocalFile()).toStdString(),
                                                 4 * pictureHeight, pictureHeight);
    Q_EMIT picturesChanged();
}

void ThumbnailStrip::setIndex(std::shared_ptr<const VideoIndex> index)
{
    m_index = std::move(index);
    Q_EMIT picturesChanged();
}

bool ThumbnailStrip::hasFrameTimes() const
{
    return m_index && !m_index->framePts.empty();
}

const ThumbnailStrip::Entry *ThumbnailStrip::find(double time, Pick pick) const
{
    const Entry *found = nullptr;
    const std::vector<double> *named = nullptr;
    if (m_index && pick == Pick::Frame && !m_index->framePts.empty())
        named = &m_index->framePts;
    else if (m_index && !m_index->keyframes.empty())
        named = &m_index->keyframes;
    if (named) {
        const std::int64_t key = micros(atOrBefore(*named, time));
        const auto it = m_entries.lower_bound(key - kSlack);
        if (it != m_entries.end() && it->first <= key + kSlack)
            found = &it->second;
    } else {
        const std::int64_t t = micros(time);
        for (const Cover &cover : m_covers) {
            if (cover.from - kSlack <= t && t <= cover.to + kSlack) {
                const auto it = m_entries.find(cover.key);
                if (it != m_entries.end())
                    found = &it->second;
                break;
            }
        }
    }
    if (found)
        found->used = ++m_clock;
    return found;
}

QImage ThumbnailStrip::picture(double time, Pick pick) const
{
    const Entry *entry = find(time, pick);
    return entry ? entry->image : QImage();
}

std::vector<PictureRequest> ThumbnailStrip::missing(const QVector<double> &times, Pick pick) const
{
    std::vector<PictureRequest> out;
    std::set<std::int64_t> asked;
    const bool frames = pick == Pick::Frame && hasFrameTimes();
    const bool keyframes = m_index && !m_index->keyframes.empty();
    for (double t : times) {
        if (find(t, pick))
            continue;
        if (frames || keyframes) {
            const double key = atOrBefore(frames ? m_index->framePts : m_index->keyframes, t);
            if (asked.insert(micros(key)).second)
                out.push_back({key, false});
        } else {
            out.push_back({t, true});
        }
    }
    return out;
}

void ThumbnailStrip::request(const QVector<double> &times, Pick pick)
{
    std::vector<PictureRequest> wanted = missing(times, pick);
    if (!m_job) {
        m_next = std::move(wanted);
        startJob();
        return;
    }
    // The running job goes on while what it still has to do includes all
    // that is wanted; otherwise it makes way as soon as it can.
    const bool covered = std::all_of(wanted.begin(), wanted.end(), [&](const PictureRequest &r) {
        return std::any_of(m_jobRequests.begin(), m_jobRequests.end(),
                           [&](const PictureRequest &j) { return sameRequest(r, j); });
    });
    if (covered && !wanted.empty()) {
        m_next.clear();
        return;
    }
    m_next = std::move(wanted);
    m_job->cancel();
}

void ThumbnailStrip::startJob()
{
    std::vector<PictureRequest> requests;
    for (const PictureRequest &r : m_next) {
        if (!find(r.time, r.keyframeAtOrBefore ? Pick::Keyframe : Pick::Frame))
            requests.push_back(r);
    }
    m_next.clear();
    if (!m_reader)
        return;
    if (requests.empty()) {
        m_idle.start();
        return;
    }
    m_jobRequests = requests;
    m_readerClosed = false;
    runJob([self = MainThreadRef<ThumbnailStrip>(this), reader = m_reader, index = m_index,
            requests = std::move(requests)](StripReader &, const TaskHandle &task) {
        std::size_t i = 0;
        reader->read(
            requests, index.get(),
            [&](StripPicture picture) {
                const bool bySeeking = requests[i++].keyframeAtOrBefore;
                postToMainThread([self, reader, asked = picture.asked, time = picture.time,
                                  bySeeking, image = toImage(picture.image)] {
                    if (ThumbnailStrip *strip = self.get())
                        strip->receive(reader, asked, time, bySeeking, image);
                });
            },
            [&task] { return task->isCancelled(); });
    });
}

void ThumbnailStrip::runJob(std::function<void(StripReader &, const TaskHandle &)> work)
{
    // One job at a time: a reader is never used by two threads at once.
    m_idle.stop();
    const TaskHandle task = makeTask();
    m_job = task;
    runInBackgroundQuietly([self = MainThreadRef<ThumbnailStrip>(this), task, reader = m_reader,
                            work = std::move(work)] {
        work(*reader, task);
        postToMainThread([self, task] {
            if (ThumbnailStrip *strip = self.get())
                strip->jobEnded(task);
        });
    });
}

void ThumbnailStrip::receive(const std::shared_ptr<StripReader> &reader, double asked, double time,
                             bool bySeeking, const QImage &image)
{
    if (reader != m_reader)
        return; // a picture of the movie before
    const PictureRequest done{asked, bySeeking};
    const auto it = std::find_if(m_jobRequests.begin(), m_jobRequests.end(),
                                 [&](const PictureRequest &r) { return sameRequest(r, done); });
    if (it != m_jobRequests.end())
        m_jobRequests.erase(it);

    // A frame that could not be decoded is kept as such: asking again would
    // only fail again.
    const std::int64_t key = micros(bySeeking ? time : asked);
    const auto [entry, added] = m_entries.try_emplace(key, Entry{image, ++m_clock});
    if (added && !image.isNull()) {
        m_bytes += static_cast<std::size_t>(image.sizeInBytes());
        if (!m_aspectKnown)
            m_aspect = double(image.width()) / image.height();
        m_aspectKnown = true;
    }
    if (bySeeking) {
        const std::int64_t from = std::min(micros(time), micros(asked));
        const std::int64_t to = std::max(micros(time), micros(asked));
        const auto cover = std::find_if(m_covers.begin(), m_covers.end(),
                                        [&](const Cover &c) { return c.key == key; });
        if (cover == m_covers.end()) {
            m_covers.push_back({from, to, key});
        } else {
            cover->from = std::min(cover->from, from);
            cover->to = std::max(cover->to, to);
        }
    }
    keepWithinBudget();
    Q_EMIT picturesChanged();
}

void ThumbnailStrip::jobEnded(const TaskHandle &task)
{
    if (task != m_job)
        return;
    m_job.reset();
    m_jobRequests.clear();
    startJob();
}

void ThumbnailStrip::keepWithinBudget()
{
    if (m_bytes <= budget)
        return;
    std::vector<std::pair<std::uint64_t, std::int64_t>> byUse;
    for (const auto &[key, entry] : m_entries) {
        if (!entry.image.isNull())
            byUse.emplace_back(entry.used, key);
    }
    std::sort(byUse.begin(), byUse.end());
    // Down to nine tenths, so that the next pictures do not evict one each.
    for (const auto &[used, key] : byUse) {
        if (m_bytes <= budget / 10 * 9)
            break;
        const auto it = m_entries.find(key);
        m_bytes -= static_cast<std::size_t>(it->second.image.sizeInBytes());
        m_entries.erase(it);
        std::erase_if(m_covers, [key = key](const Cover &c) { return c.key == key; });
    }
}

} // namespace trimora
