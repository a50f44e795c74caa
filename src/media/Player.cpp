#include "media/Player.h"

#include <mpv/client.h>

#include <QByteArray>
#include <QFile>
#include <QMetaObject>

#include <algorithm>
#include <clocale>
#include <cstring>

namespace trimora {

namespace {

Player::Output g_defaultOutput = Player::Output::Surface;

enum ReplyTag : uint64_t { LoadReply = 1, SeekReply = 2, TimeReply = 3, OtherReply = 4 };

// libmpv's exact seek shows the first frame that starts at most 5 ms before
// its target. Aiming one frame, less those 5 ms, before a time shows instead
// the frame whose span contains it. The microsecond of slack lets a time
// rounded to the microsecond still count as the frame starting there.
constexpr double mpvSeekTolerance = 0.005;
constexpr double roundingSlack = 1e-6;

void setOption(mpv_handle *h, const char *name, const char *value)
{
    // A refused option only loses that nicety; playback still works.
    (void)mpv_set_option_string(h, name, value);
}

const mpv_node *mapValue(const mpv_node &map, const char *key)
{
    if (map.format != MPV_FORMAT_NODE_MAP)
        return nullptr;
    for (int i = 0; i < map.u.list->num; ++i) {
        if (std::strcmp(map.u.list->keys[i], key) == 0)
            return &map.u.list->values[i];
    }
    return nullptr;
}

} // namespace

void Player::setDefaultOutput(Output output)
{
    g_defaultOutput = output;
}

Player::Player(QObject *parent) : QObject(parent), m_output(g_defaultOutput)
{
    // libmpv refuses to start under a numeric locale with a decimal comma.
    std::setlocale(LC_NUMERIC, "C");
    mpv_handle *raw = mpv_create();
    if (!raw)
        return;
    m_handle = std::shared_ptr<mpv_handle>(raw, mpv_terminate_destroy);
    mpv_handle *h = m_handle.get();

    setOption(h, "config", "no");
    setOption(h, "load-scripts", "no");
    setOption(h, "ytdl", "no");
    setOption(h, "osc", "no");
    setOption(h, "input-default-bindings", "no");
    setOption(h, "input-vo-keyboard", "no");
    setOption(h, "terminal", "no");
    setOption(h, "idle", "yes");
    setOption(h, "pause", "yes");
    setOption(h, "keep-open", "yes");
    setOption(h, "hr-seek", "yes");
    // Raw container times in every container (by default MP4 keeps them and
    // MPEG-TS does not); the origin is subtracted here, the same for all.
    setOption(h, "rebase-start-time", "no");
    setOption(h, "sid", "no");
    setOption(h, "audio-display", "no");
    setOption(h, "vo", m_output == Output::None ? "null" : "libmpv");
    if (m_output != Output::Surface)
        setOption(h, "ao", "null");
    // Hardware decoding only where libmpv knows it to be safe; it falls back to
    // software decoding by itself, with the same frames and timing.
    if (m_output != Output::None)
        setOption(h, "hwdec", "auto-safe");

    if (mpv_initialize(h) < 0) {
        m_handle.reset();
        return;
    }
    mpv_observe_property(h, 0, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(h, 0, "eof-reached", MPV_FORMAT_FLAG);
    mpv_set_wakeup_callback(
        h,
        [](void *self) {
            QMetaObject::invokeMethod(static_cast<Player *>(self), &Player::drainEvents,
                                      Qt::QueuedConnection);
        },
        this);
}

Player::~Player()
{
    if (m_handle)
        mpv_set_wakeup_callback(m_handle.get(), nullptr, nullptr);
}

void Player::replaceItem(const QString &path, const MediaTiming &timing)
{
    ++m_item;
    m_timing = timing;
    m_requestedEntry = -1;
    m_fileLoaded = false;
    m_seekInFlight = false;
    m_pendingSeek.reset();
    m_pendingSteps = 0;
    m_time.reset();
    m_timeKnown = true;
    m_atEnd = false;
    m_pendingPath = path;
    setSpeed(1.0);
    openPendingFile();
    Q_EMIT itemChanged();
}

void Player::openPendingFile()
{
    if (!m_handle || !m_pendingPath)
        return;
    if (m_output != Output::None && !m_rendererAttached)
        return;
    const QByteArray path = QFile::encodeName(*m_pendingPath);
    m_pendingPath.reset();
    // Where the container has no index to seek by, the demuxer must start early
    // enough to meet the keyframe before the target, or the seek lands on the
    // keyframe after it. The option holds for this file only.
    const QByteArray options =
        "hr-seek-demuxer-offset=" + QByteArray::number(m_timing.seekPreroll, 'f', 3);
    const char *args[] = {"loadfile", path.constData(), "replace", options.constData(), nullptr};
    if (mpv_command_async(m_handle.get(), LoadReply, args) >= 0)
        ++m_loadsInFlight;
}

void Player::attachRenderer()
{
    m_rendererAttached = true;
    openPendingFile();
}

void Player::detachRenderer()
{
    m_rendererAttached = false;
}

void Player::play()
{
    setPaused(false);
}

void Player::pause()
{
    setPaused(true);
}

void Player::setPaused(bool paused)
{
    if (!m_handle)
        return;
    int flag = paused ? 1 : 0;
    mpv_set_property_async(m_handle.get(), OtherReply, "pause", MPV_FORMAT_FLAG, &flag);
}

void Player::setSpeed(double speed)
{
    if (!m_handle)
        return;
    mpv_set_property_async(m_handle.get(), OtherReply, "speed", MPV_FORMAT_DOUBLE, &speed);
}

void Player::seekExact(double seconds, std::optional<double> frameStart)
{
    // The frame that starts at most the tolerance before the target is shown,
    // so aiming the tolerance past a frame's start, less the slack, shows it.
    m_pendingSeek = frameStart ? m_timing.origin + *frameStart + mpvSeekTolerance - roundingSlack
                               : aimFor(seconds);
    m_pendingSteps = 0;
    issueSeek();
}

void Player::stepFrames(int frames)
{
    // Without video there is no frame to step to.
    if (frames == 0 || !hasVideo())
        return;
    m_pendingSteps += frames;
    issueSeek();
}

void Player::issueSeek()
{
    const bool current = m_loadsInFlight == 0 && m_startedEntry == m_requestedEntry;
    if (!m_handle || m_seekInFlight || !m_fileLoaded || !current)
        return;
    if (m_pendingSeek) {
        const double target = *m_pendingSeek;
        m_pendingSeek.reset();
        seekTo(target);
    } else if (m_pendingSteps != 0 && m_timeKnown) {
        const int steps = m_pendingSteps;
        m_pendingSteps = 0;
        if (!m_time)
            return; // no frame on show to step from
        // Half a frame into the frame wanted: a little jitter in a variable
        // frame rate still lands on it.
        const double frame = m_timing.frameDuration;
        seekTo(aimFor(std::clamp(*m_time + (steps + 0.5) * frame, 0.0, m_timing.duration)));
    }
}

double Player::aimFor(double seconds) const
{
    double target = m_timing.origin + seconds;
    if (hasVideo())
        target += -m_timing.frameDuration + mpvSeekTolerance + roundingSlack;
    return target;
}

void Player::seekTo(double target)
{
    // libmpv counts a negative time from the end. Only a time within the
    // first frame comes out negative: the file's own start shows that frame.
    const bool fromStart = target < 0;
    const QByteArray text = fromStart ? QByteArray("0") : QByteArray::number(target, 'f', 9);
    const char *args[] = {"seek", text.constData(),
                          fromStart ? "absolute-percent+exact" : "absolute+exact", nullptr};
    if (mpv_command_async(m_handle.get(), SeekReply, args) >= 0) {
        m_seekInFlight = true;
        m_seekTaken = false;
    }
}

void Player::takeTime(double containerSeconds)
{
    m_time = containerSeconds - m_timing.origin;
    if (!isSeeking())
        Q_EMIT timeChanged(*m_time);
}

QImage Player::currentFrame() const
{
    if (!m_handle)
        return {};
    const char *args[] = {"screenshot-raw", "video", nullptr};
    mpv_node result;
    if (mpv_command_ret(m_handle.get(), args, &result) < 0)
        return {};
    QImage image;
    const mpv_node *w = mapValue(result, "w");
    const mpv_node *h = mapValue(result, "h");
    const mpv_node *stride = mapValue(result, "stride");
    const mpv_node *format = mapValue(result, "format");
    const mpv_node *data = mapValue(result, "data");
    const bool valid = w && h && stride && format && data && w->format == MPV_FORMAT_INT64 &&
                       h->format == MPV_FORMAT_INT64 && stride->format == MPV_FORMAT_INT64 &&
                       format->format == MPV_FORMAT_STRING && data->format == MPV_FORMAT_BYTE_ARRAY;
    // "bgr0" and "bgra" are QImage's 32-bit layout on a little-endian machine.
    if (valid && (std::strcmp(format->u.string, "bgr0") == 0 ||
                  std::strcmp(format->u.string, "bgra") == 0)) {
        const auto *bytes = static_cast<const uchar *>(data->u.ba->data);
        const int width = static_cast<int>(w->u.int64);
        const int height = static_cast<int>(h->u.int64);
        const qsizetype lineBytes = static_cast<qsizetype>(stride->u.int64);
        if (width > 0 && height > 0 && lineBytes >= width * 4 &&
            static_cast<qsizetype>(data->u.ba->size) >= lineBytes * height)
            image = QImage(bytes, width, height, lineBytes, QImage::Format_RGB32).copy();
    }
    mpv_free_node_contents(&result);
    return image;
}

void Player::drainEvents()
{
    if (!m_handle)
        return;
    for (;;) {
        const mpv_event *event = mpv_wait_event(m_handle.get(), 0);
        if (!event || event->event_id == MPV_EVENT_NONE)
            break;
        handleEvent(*event);
    }
}

void Player::handleEvent(const mpv_event &event)
{
    // Events of an item that has since been replaced must not move the playhead.
    const bool current = m_loadsInFlight == 0 && m_startedEntry == m_requestedEntry;
    switch (event.event_id) {
    case MPV_EVENT_COMMAND_REPLY:
    case MPV_EVENT_GET_PROPERTY_REPLY:
        handleReply(event, current);
        break;
    case MPV_EVENT_START_FILE: {
        const auto *start = static_cast<const mpv_event_start_file *>(event.data);
        m_startedEntry = start ? start->playlist_entry_id : -2;
        m_fileLoaded = false;
        m_seekInFlight = false;
        break;
    }
    case MPV_EVENT_FILE_LOADED:
        if (current) {
            m_fileLoaded = true;
            issueSeek();
        }
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        // A seek issued as the file loads can see the file's own first
        // restart before libmpv has even taken the seek: that one is not its
        // landing, whatever time it reports.
        if (m_seekInFlight && !m_seekTaken)
            break;
        m_seekInFlight = false;
        if (current) {
            // Steps count from the frame this landed on. Its time may equal the
            // last one reported, when no property change follows: ask for it.
            m_timeKnown = false;
            mpv_get_property_async(m_handle.get(), TimeReply, "time-pos", MPV_FORMAT_DOUBLE);
        }
        issueSeek();
        break;
    case MPV_EVENT_PROPERTY_CHANGE:
        handlePropertyChange(event, current);
        break;
    default:
        break;
    }
}

void Player::handleReply(const mpv_event &event, bool current)
{
    if (event.reply_userdata == LoadReply) {
        --m_loadsInFlight;
        const auto *result = static_cast<const mpv_event_command *>(event.data);
        if (event.error >= 0 && result) {
            const mpv_node *entry = mapValue(result->result, "playlist_entry_id");
            if (entry && entry->format == MPV_FORMAT_INT64)
                m_requestedEntry = entry->u.int64;
        }
    } else if (event.reply_userdata == SeekReply && event.error >= 0) {
        m_seekTaken = true;
    } else if (event.reply_userdata == SeekReply && event.error < 0) {
        m_seekInFlight = false;
        issueSeek();
    } else if (event.reply_userdata == TimeReply && current) {
        const auto *prop = static_cast<const mpv_event_property *>(event.data);
        m_timeKnown = true;
        if (event.error >= 0 && prop && prop->format == MPV_FORMAT_DOUBLE && prop->data)
            takeTime(*static_cast<const double *>(prop->data));
        issueSeek();
    }
}

void Player::handlePropertyChange(const mpv_event &event, bool current)
{
    const auto *prop = static_cast<const mpv_event_property *>(event.data);
    if (!prop || !prop->data)
        return;
    if (!current) {
        return;
    } else if (std::strcmp(prop->name, "time-pos") == 0 && prop->format == MPV_FORMAT_DOUBLE) {
        // While a seek is under way libmpv reports its target, then the frame
        // it lands on; only the landing counts.
        if (!m_seekInFlight)
            takeTime(*static_cast<const double *>(prop->data));
    } else if (std::strcmp(prop->name, "eof-reached") == 0 && prop->format == MPV_FORMAT_FLAG) {
        const bool atEnd = *static_cast<const int *>(prop->data) != 0;
        const bool reached = atEnd && !m_atEnd;
        m_atEnd = atEnd;
        if (reached)
            Q_EMIT endReached(m_item);
    }
}

} // namespace trimora
