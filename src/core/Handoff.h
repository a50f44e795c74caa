#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace trimora {

// Items handed from one thread to another through a short queue: the giver
// waits while it is full, the taker while it is empty. Once closed, giving
// fails and taking drains what is left, then fails.
template <class Item> class Handoff
{
public:
    explicit Handoff(std::size_t capacity) : m_capacity(capacity > 0 ? capacity : 1) {}

    bool give(Item item)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_closed || m_items.size() < m_capacity; });
        if (m_closed)
            return false;
        m_items.push_back(std::move(item));
        m_changed.notify_all();
        return true;
    }

    std::optional<Item> take()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_closed || !m_items.empty(); });
        return next();
    }

    // Nothing also when nothing came within patience; drained() tells apart.
    std::optional<Item> takeWithin(std::chrono::milliseconds patience)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, patience, [&] { return m_closed || !m_items.empty(); });
        return next();
    }

    // Closed, and every item taken.
    bool drained()
    {
        std::lock_guard lock(m_mutex);
        return m_closed && m_items.empty();
    }

    void close()
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_changed.notify_all();
    }

private:
    std::optional<Item> next()
    {
        if (m_items.empty())
            return std::nullopt;
        Item item = std::move(m_items.front());
        m_items.pop_front();
        m_changed.notify_all();
        return item;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Item> m_items;
    std::size_t m_capacity;
    bool m_closed = false;
};

} // namespace trimora
