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
#include <stop_token>
#include <thread>

using namespace trimora;

// Aborts the whole test program when a case outlives its budget, so a hang in
// a destructor (where no waitFor can help) is reported as such and at once.
class Watchdog
{
public:
    Watchdog(const QString &what, int seconds)
        : m_thread([what = what.toLocal8Bit(), seconds](std::stop_token stop) {
              std::mutex mutex;
              std::condition_variable_any wake;
              std::unique_lock lock(mutex);
              wake.wait_for(lock, stop, std::chrono::seconds(seconds), [] { return false; });
              if (!stop.stop_requested()) {
                  std::fprintf(stderr, "HANG: %s took more than %d s\n", what.constData(), seconds);
                  std::abort();
              }
          })
    {}

private:
    std::jthread m_thread; // asked to stop and joined on destruction
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
    return waitFor([&] { return !model->exports()->isProcessing() && noChildProcesses(); },
                   timeoutMs);
}

// The log's last line: the status line of the last export.
inline QString lastLine(const QString &log)
{
    return log.section(QLatin1Char('\n'), -1);
}
