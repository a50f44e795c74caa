#pragma once

#include "app/AppWindow.h"
#include "app/ContentView.h"
#include "app/TrimoraApp.h"
#include "export/FFmpegRunner.h"
#include "model/VideoEditorViewModel.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace trimora;

// Aborts the whole test program when a case outlives its budget, so a hang in
// a destructor (where no waitFor can help) is reported as such and at once.
class Watchdog
{
public:
    Watchdog(QString what, int seconds) : m_what(what.toLocal8Bit())
    {
        m_thread = std::thread([this, seconds] {
            std::unique_lock lock(m_mutex);
            if (!m_done.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_stop; })) {
                std::fprintf(stderr, "HANG: %s took more than %d s\n", m_what.constData(), seconds);
                std::abort();
            }
        });
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_done.notify_all();
        m_thread.join();
    }
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

private:
    QByteArray m_what;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_stop = false;
    std::thread m_thread;
};

// The longest the event loop went without running a 5 ms timer: how long the
// user would have waited for a click to be handled.
class LatencyProbe
{
public:
    LatencyProbe()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_worst = qMax(m_worst, m_clock.restart()); });
        m_clock.start();
        m_timer.start();
    }
    qint64 worstMs() const { return m_worst; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_worst = 0;
};

// Every entry below dir with its size, so that a stray write shows as a diff.
inline QStringList listing(const QString &dir)
{
    QStringList entries;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        entries << it.filePath() + QLatin1Char(' ') + QString::number(it.fileInfo().size());
    }
    entries.sort();
    return entries;
}

inline VideoEditorViewModel *modelOf(AppWindow *window)
{
    return window->content()->viewModel();
}

// Closes the window as its close button would and waits until it, and with it
// the model, is gone.
inline bool closeAndWait(AppWindow *window, int timeoutMs = 10000)
{
    QPointer<AppWindow> guard(window);
    window->close();
    return waitFor([&] { return guard.isNull(); }, timeoutMs);
}

inline bool exportFinished(VideoEditorViewModel *model, int timeoutMs = 60000)
{
    return waitFor([&] { return !model->isProcessing() && noChildProcesses(); }, timeoutMs);
}

// The log's last line: the status line of the last export.
inline QString lastLine(const QString &log)
{
    return log.section(QLatin1Char('\n'), -1);
}
