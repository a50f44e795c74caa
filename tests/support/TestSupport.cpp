#include "support/TestSupport.h"

#include "media/CutSource.h"
#include "model/VideoEditorViewModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QWidget>

#include <dlfcn.h>

using namespace trimora;

QString media(const QString &name)
{
    if (QFileInfo(name).isAbsolute())
        return name;
    return QStringLiteral(TRIMORA_TEST_MEDIA "/") + name;
}

std::string mediaPath(const QString &name)
{
    return QFile::encodeName(media(name)).toStdString();
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

bool noChildProcesses()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(task + QStringLiteral("/children")));
        if (children.open(QIODevice::ReadOnly) && !children.readAll().trimmed().isEmpty())
            return false;
    }
    return true;
}

std::shared_ptr<const VideoIndex> readVideoIndex(const QString &name)
{
    std::shared_ptr<VideoIndex> index;
    readCutSource(
        mediaPath(name), [] { return false; }, [](SourceLayout) {},
        [&](VideoIndex read) { index = std::make_shared<VideoIndex>(std::move(read)); });
    return index;
}

bool loadAndWait(VideoEditorViewModel &model, const QString &path, int timeoutMs)
{
    model.loadVideo(QUrl::fromLocalFile(media(path)));
    return waitFor([&] { return model.isLoaded(); }, timeoutMs);
}

bool showExposed(QWidget *widget)
{
    widget->show();
    return QTest::qWaitForWindowExposed(widget);
}

QImage grabbed(QWidget &widget)
{
    QImage image = widget.grab().toImage();
    const qreal ratio = image.devicePixelRatio();
    if (ratio != 1.0)
        image = image.scaled(qRound(image.width() / ratio), qRound(image.height() / ratio));
    return image.convertToFormat(QImage::Format_RGB32);
}

double probedDuration(const QString &path)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                 QStringLiteral("format=duration"), QStringLiteral("-of"),
                 QStringLiteral("csv=p=0"), QStringLiteral("file:") + path});
    if (!probe.waitForFinished(30000) || probe.exitCode() != 0)
        return -1.0;
    bool ok = false;
    const double seconds = probe.readAllStandardOutput().trimmed().toDouble(&ok);
    return ok ? seconds : -1.0;
}

QString writeStandIn(const QString &dir, const QString &name, const QByteArray &body,
                     bool executable)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write((body.startsWith("#!") ? body : "#!/bin/sh\n" + body) + "\n");
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner;
    file.setPermissions(permissions);
    return path;
}

const QByteArray standInArguments =
    "for a; do case $prev in -ss) ss=$a;; -t) t=$a;; -i) in=$a;; esac; prev=$a; out=$a; done\n";

QByteArray standInWrites(const QString &movie)
{
    return standInArguments + "cp '" + QFile::encodeName(media(movie)) + "' \"$out\"\n";
}

// Mesa's GL driver is unloaded when the display closes, so allocations it
// keeps for the process's life would be reported from an unnamed module that
// no suppression can match. Keeping it loaded lets the suppression list name it.
static const bool g_pinGlDriver = [] {
    for (const char *driver : {"/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so",
                               "/usr/lib/x86_64-linux-gnu/dri/kms_swrast_dri.so"})
        (void)dlopen(driver, RTLD_NOW | RTLD_NODELETE | RTLD_GLOBAL);
    return true;
}();
