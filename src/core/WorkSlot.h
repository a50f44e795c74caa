#pragma once

#include "core/MainThread.h"
#include "core/Task.h"

#include <functional>
#include <memory>
#include <utility>

namespace trimora {

// One kind of background work of an object that lives on the main thread (a
// load, a scan, a waveform read). Starting anew cancels the work before it,
// and what a worker posts back runs only while its work is still the slot's
// latest and the slot, with the object that holds it, still exists: the one
// way this code base drops a stale or orphaned result.
class WorkSlot
{
public:
    // What a worker holds: its cancellation flag and the way back.
    class Ticket
    {
    public:
        bool isCancelled() const { return m_task->isCancelled(); }
        const TaskHandle &task() const { return m_task; }
        // From any thread: queues fn on the main thread, where it runs only if
        // this work is still current.
        void post(std::function<void()> fn) const
        {
            postToMainThread([current = m_current, task = m_task, fn = std::move(fn)] {
                const std::shared_ptr<const TaskHandle> slot = current.lock();
                if (slot && *slot == task)
                    fn();
            });
        }

    private:
        friend class WorkSlot;
        Ticket(std::weak_ptr<const TaskHandle> current, TaskHandle task)
            : m_current(std::move(current)), m_task(std::move(task))
        {}
        std::weak_ptr<const TaskHandle> m_current;
        TaskHandle m_task;
    };

    WorkSlot() = default;
    ~WorkSlot() { cancel(); }
    WorkSlot(const WorkSlot &) = delete;
    WorkSlot &operator=(const WorkSlot &) = delete;

    // Main thread. Cancels the current work and makes a new one current.
    Ticket start()
    {
        cancel();
        TaskHandle task = makeTask();
        *m_current = task;
        return Ticket(m_current, std::move(task));
    }

    // Main thread. Cancels the current work; nothing it posts arrives any more.
    void cancel()
    {
        if (*m_current)
            (*m_current)->cancel();
        m_current->reset();
    }

    // Main thread. Asks the current work to stop but keeps it current, so that
    // its report of where it stopped still arrives.
    void stop()
    {
        if (*m_current)
            (*m_current)->cancel();
    }

    // Main thread. True from start() until cancel() or finish().
    bool isBusy() const { return static_cast<bool>(*m_current); }

    // Main thread, from a posted step: the work is done; a later post of it is dropped.
    void finish(const Ticket &ticket)
    {
        if (*m_current == ticket.m_task)
            m_current->reset();
    }

private:
    std::shared_ptr<TaskHandle> m_current = std::make_shared<TaskHandle>();
};

} // namespace trimora
