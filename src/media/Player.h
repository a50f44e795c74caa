#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

struct mpv_handle;
struct mpv_event;

// One libmpv instance: the window's player. Owns the handle; every libmpv
// event is drained on the main thread, where all of this object's methods run.
class Player : public QObject
{
    Q_OBJECT
public:
    // Surface: frames go to a VideoRenderer, sound to the system.
    // SilentSurface: frames go to a VideoRenderer, no sound (tests).
    // None: no video or audio output at all (headless use, tests).
    enum class Output { Surface, SilentSurface, None };
    static void setDefaultOutput(Output output);

    explicit Player(QObject *parent = nullptr);
    ~Player() override;

    // Replaces the current item; keeps the paused state. With Output::Surface
    // the file is opened once a renderer is attached, since the video output
    // cannot start without one.
    void replaceItem(const QString &path);
    quint64 currentItem() const { return m_item; }

    void play();
    void pause();
    // Frame-exact seek. Seeks are coalesced: at most one is in flight and the
    // most recent target wins, so scrubbing never falls behind.
    void seekExact(double seconds);

    std::optional<double> lastReportedTime() const { return m_time; }
    bool isAtEnd() const { return m_atEnd; }
    bool isPaused() const { return m_paused; }

    // For VideoRenderer only.
    std::shared_ptr<mpv_handle> handle() const { return m_handle; }
    void attachRenderer();
    void detachRenderer();

Q_SIGNALS:
    // The playhead of the current item moved (playback, seek, load).
    void timeChanged(double seconds);
    // The current item played to its end.
    void endReached(quint64 item);
    void itemLoaded(quint64 item);

private:
    void drainEvents();
    void handleEvent(const mpv_event &event);
    void openPendingFile();
    void issueSeek();
    void setPaused(bool paused);

    std::shared_ptr<mpv_handle> m_handle;
    Output m_output;
    bool m_rendererAttached = false;
    std::optional<QString> m_pendingPath;

    quint64 m_item = 0;           // bumped by every replaceItem
    quint64 m_loadsInFlight = 0;  // loadfile commands without a reply yet
    qint64 m_requestedEntry = -1; // playlist entry of the latest loadfile
    qint64 m_startedEntry = -2;   // playlist entry mpv is playing
    bool m_fileLoaded = false;

    bool m_seekInFlight = false;
    std::optional<double> m_pendingSeek;

    std::optional<double> m_time;
    bool m_atEnd = false;
    bool m_paused = true;
};
