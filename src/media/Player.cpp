#include "media/Player.h"

#include <mpv/client.h>

#include <QByteArray>
#include <QFile>
#include <QMetaObject>

#include <clocale>
#include <cstring>

namespace {

Player::Output g_defaultOutput = Player::Output::Surface;

enum ReplyTag : uint64_t { LoadReply = 1, SeekReply = 2, OtherReply = 3 };

void setOption(mpv_handle *h, const char *name, const char *value)
{
    // A refused option only loses that nicety; playback still works.
    (void)mpv_set_option_string(h, name, value);
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
    mpv_observe_property(h, 0, "pause", MPV_FORMAT_FLAG);
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

void Player::replaceItem(const QString &path)
{
    ++m_item;
    m_requestedEntry = -1;
    m_fileLoaded = false;
    m_seekInFlight = false;
    m_pendingSeek.reset();
    m_time.reset();
    m_atEnd = false;
    m_pendingPath = path;
    openPendingFile();
}

void Player::openPendingFile()
{
    if (!m_handle || !m_pendingPath)
        return;
    if (m_output != Output::None && !m_rendererAttached)
        return;
    const QByteArray path = QFile::encodeName(*m_pendingPath);
    m_pendingPath.reset();
    const char *args[] = {"loadfile", path.constData(), "replace", nullptr};
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
    if (m_atEnd)
        seekExact(0.0);
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

void Player::seekExact(double seconds)
{
    m_pendingSeek = seconds;
    issueSeek();
}

void Player::issueSeek()
{
    const bool current = m_loadsInFlight == 0 && m_startedEntry == m_requestedEntry;
    if (!m_handle || m_seekInFlight || !m_pendingSeek || !m_fileLoaded || !current)
        return;
    const QByteArray target = QByteArray::number(*m_pendingSeek, 'f', 6);
    m_pendingSeek.reset();
    const char *args[] = {"seek", target.constData(), "absolute+exact", nullptr};
    if (mpv_command_async(m_handle.get(), SeekReply, args) >= 0)
        m_seekInFlight = true;
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
    case MPV_EVENT_COMMAND_REPLY: {
        if (event.reply_userdata == LoadReply) {
            --m_loadsInFlight;
            const auto *result = static_cast<const mpv_event_command *>(event.data);
            if (event.error >= 0 && result && result->result.format == MPV_FORMAT_NODE_MAP) {
                const mpv_node_list *map = result->result.u.list;
                for (int i = 0; i < map->num; ++i) {
                    if (std::strcmp(map->keys[i], "playlist_entry_id") == 0 &&
                        map->values[i].format == MPV_FORMAT_INT64)
                        m_requestedEntry = map->values[i].u.int64;
                }
            }
        } else if (event.reply_userdata == SeekReply && event.error < 0) {
            m_seekInFlight = false;
            issueSeek();
        }
        break;
    }
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
            Q_EMIT itemLoaded(m_item);
            issueSeek();
        }
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        m_seekInFlight = false;
        issueSeek();
        break;
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto *prop = static_cast<const mpv_event_property *>(event.data);
        if (!prop || !prop->data)
            break;
        if (std::strcmp(prop->name, "pause") == 0 && prop->format == MPV_FORMAT_FLAG) {
            m_paused = *static_cast<const int *>(prop->data) != 0;
        } else if (!current) {
            break;
        } else if (std::strcmp(prop->name, "time-pos") == 0 && prop->format == MPV_FORMAT_DOUBLE) {
            m_time = *static_cast<const double *>(prop->data);
            Q_EMIT timeChanged(*m_time);
        } else if (std::strcmp(prop->name, "eof-reached") == 0 && prop->format == MPV_FORMAT_FLAG) {
            const bool atEnd = *static_cast<const int *>(prop->data) != 0;
            const bool reached = atEnd && !m_atEnd;
            m_atEnd = atEnd;
            if (reached)
                Q_EMIT endReached(m_item);
        }
        break;
    }
    default:
        break;
    }
}
