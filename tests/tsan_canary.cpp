// A deliberate race between a pooled worker and the main thread. The
// ThreadSanitizer build runs it and expects a report naming this file: proof
// that the suppressions for the system libraries do not also hide races in
// code of ours that Qt's threads run.
#include "core/MainThread.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>

using namespace trimora;

namespace {
int g_unguarded = 0;
std::atomic<bool> g_done{false};
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    runInBackground([] {
        g_unguarded = 1;
        g_done.store(true, std::memory_order_relaxed);
    });
    while (!g_done.load(std::memory_order_relaxed))
        QThread::msleep(1);
    g_unguarded = 2;
    QThreadPool::globalInstance()->waitForDone();
    return 0;
}
