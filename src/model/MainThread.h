#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <utility>

// A weak reference that a worker may copy freely but that is only dereferenced
// on the main thread, where the object lives and dies. The QPointer is made on
// the main thread and never touched elsewhere; workers only copy the shared_ptr.
template <class T> class MainThreadRef
{
public:
    MainThreadRef() = default;
    explicit MainThreadRef(T *object) : m_ref(std::make_shared<const QPointer<T>>(object)) {}

    // Main thread only.
    T *get() const { return m_ref ? m_ref->data() : nullptr; }

private:
    std::shared_ptr<const QPointer<T>> m_ref;
};

// Queues fn on the main thread's event loop. Calls posted from one thread run
// in the order they were posted.
inline void postToMainThread(std::function<void()> fn)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

// Runs short-lived media work (probing, decoding) off the main thread.
// The pool is wider than the core count because a scan may hold a thread for
// minutes while waveform reads and probes must still start at once.
inline void runInBackground(std::function<void()> fn)
{
    QThreadPool *pool = QThreadPool::globalInstance();
    if (pool->maxThreadCount() < 8)
        pool->setMaxThreadCount(8);
    pool->start(std::move(fn));
}
