#pragma once

#include "export/FFmpegRunner.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QThread>

// A stand-in for the ffmpeg program: a shell script written into dir. It is
// called with the export's twelve arguments ($2 start, $4 input, $6 duration,
// $12 output).
inline QString writeStandIn(const QString &dir, const QString &name, const QByteArray &body,
                            bool executable = true)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner;
    file.setPermissions(permissions);
    return path;
}

// What one run delivered, in order; "status" entries mark the status line.
struct RunRecord
{
    QStringList events;
    QString output;
    QString status;
    int statusCount = 0;
    bool offMainThread = false;

    bool finished() const { return statusCount > 0; }
};

inline void startRecordedRun(RunRecord &record, const QStringList &searchPaths,
                             const QUrl &input = QUrl::fromLocalFile(QStringLiteral("/in.mp4")),
                             const QUrl &output = QUrl::fromLocalFile(QStringLiteral("/out.mp4")),
                             double start = 2.0, double duration = 3.0)
{
    run(
        input, output, start, duration,
        [&record](const QString &chunk) {
            record.offMainThread |= QThread::currentThread() != qApp->thread();
            record.events << QStringLiteral("chunk");
            record.output += chunk;
        },
        [&record](const QString &status) {
            record.offMainThread |= QThread::currentThread() != qApp->thread();
            record.events << QStringLiteral("status");
            record.status = status;
            ++record.statusCount;
        },
        searchPaths);
}
