#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

namespace trimora {

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

// Work handed from one thread to another. Qt orders the hand-over, and the
// release of its wrapper by whichever thread lets go last, with its own locks
// and counters, which a ThreadSanitizer build cannot see into. The release and
// acquire pairs here make that order visible, so that only real races get
// reported; they cost one atomic operation each.
class HandOff
{
public:
    explicit HandOff(std::function<void()> fn) : m_fn(std::move(fn)) { publish(); }
    // A copy or move reads its source only after seeing it published.
    HandOff(const HandOff &other) : m_fn((other.seen(), other.m_fn)) { publish(); }
    HandOff(HandOff &&other) noexcept : m_fn((other.seen(), std::move(other.m_fn))) { publish(); }
    HandOff &operator=(const HandOff &) = delete;
    HandOff &operator=(HandOff &&) = delete;
    ~HandOff() { seen(); }

    void operator()() const
    {
        seen();
        m_fn();
        publish();
    }

private:
    void publish() const { m_published.store(true, std::memory_order_release); }
    void seen() const { (void)m_published.load(std::memory_order_acquire); }

    std::function<void()> m_fn;
    mutable std::atomic<bool> m_published{false};
};

// Queues fn on the main thread's event loop. Calls posted from one thread run
// in the order they were posted.
inline void postToMainThread(std::function<void()> fn)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), HandOff(std::move(fn)),
                              Qt::QueuedConnection);
}

// Runs short-lived media work (probing, decoding) off the main thread.
// The pool is wider than the core count because a scan may hold a thread for
// minutes while waveform reads and probes must still start at once.
inline void runInBackground(std::function<void()> fn)
{
    QThreadPool *pool = QThreadPool::globalInstance();
    if (pool->maxThreadCount() < 8)
        pool->setMaxThreadCount(8);
    pool->start(std::function<void()>(HandOff(std::move(fn))));
}

// Runs long reading that nobody waits for (the timeline's pictures, the sound
// overview) on threads of their own at a lower priority, so that on a busy
// machine the window and the player get a core first. Not for work that
// starts child processes: they would inherit the priority.
inline void runInBackgroundQuietly(std::function<void()> fn)
{
    // Destroyed after the application, waiting for its threads: their results
    // then find no main thread to go to, as the other workers' do.
    static QThreadPool pool;
    pool.start(std::function<void()>(HandOff([fn = std::move(fn)] {
        // A thread's nice value can be raised but not lowered again: these
        // threads only ever run this kind of work.
        static thread_local const bool lowered =
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10) == 0;
        (void)lowered;
        fn();
    })));
}

} // namespace trimora
