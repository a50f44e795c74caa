#pragma once
// What the benchmarks that run the application's window share: waiting as
// the application waits, and the process's resident memory.

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <functional>

namespace bench {

// Runs the event loop, blocked between events as the application's is, until
// condition holds (looked at every 10 ms) or timeoutMs passes.
inline bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(10);
    loop.exec();
    return condition();
}

// A memory figure of a process's status ("VmRSS", "VmHWM"; process "self" or
// a number), in megabytes; negative when it cannot be read.
inline double statusMegabytes(const QString &process, const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(process));
    if (!status.open(QIODevice::ReadOnly))
        return -1.0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1.0;
}

// VmRSS, in megabytes; negative when it cannot be read.
inline double residentMegabytes()
{
    return statusMegabytes(QStringLiteral("self"), "VmRSS");
}

} // namespace bench
