#pragma once

#include <atomic>
#include <memory>

namespace trimora {

// A handle on background work that can only be asked to stop: the worker polls
// isCancelled() at its own checkpoints and nobody ever waits for it.
class Task
{
public:
    void cancel() { m_cancelled.store(true, std::memory_order_relaxed); }
    bool isCancelled() const { return m_cancelled.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> m_cancelled{false};
};

using TaskHandle = std::shared_ptr<Task>;

inline TaskHandle makeTask()
{
    return std::make_shared<Task>();
}

} // namespace trimora
