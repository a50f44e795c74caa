#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <dlfcn.h>

QString media(const QString &name)
{
    return QStringLiteral(TRIMORA_TEST_MEDIA "/") + name;
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

// Mesa's GL driver is unloaded when the display closes, so allocations it
// keeps for the process's life would be reported from an unnamed module that
// no suppression can match. Keeping it loaded lets the suppression list name it.
static const bool g_pinGlDriver = [] {
    for (const char *driver : {"/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so",
                               "/usr/lib/x86_64-linux-gnu/dri/kms_swrast_dri.so"})
        (void)dlopen(driver, RTLD_NOW | RTLD_NODELETE | RTLD_GLOBAL);
    return true;
}();
