#pragma once

#include <atomic>
#include <mutex>

namespace platform
{

// The slot of a process-wide shared instance, created on first use.
//
// get() creates the instance exactly once, also when several threads ask
// first at the same time: they wait for the one creation and all receive its
// result. release() empties the slot and destroys the instance; the next
// get() creates a fresh one. The slot owns the instance. get() and peek() are
// lock-free once the instance exists.
template <typename T> class SharedInstance
{
public:
    // make() returns a new T; it runs under the slot's lock, at most once per
    // life of the slot's content.
    template <typename Make> T &get(Make make)
    {
        if (T *existing = m_slot.load(std::memory_order_acquire))
            return *existing;
        std::lock_guard lock(m_mutex);
        if (T *existing = m_slot.load(std::memory_order_relaxed))
            return *existing;
        T *instance = make();
        m_slot.store(instance, std::memory_order_release);
        return *instance;
    }

    T *peek() const { return m_slot.load(std::memory_order_acquire); }

    void release()
    {
        T *instance = nullptr;
        {
            std::lock_guard lock(m_mutex);
            instance = m_slot.exchange(nullptr, std::memory_order_acq_rel);
        }
        delete instance;
    }

    // For an instance destroyed by other means: empties the slot if it still
    // holds that instance.
    void forget(T *instance) { m_slot.compare_exchange_strong(instance, nullptr); }

private:
    std::mutex m_mutex;
    std::atomic<T *> m_slot{nullptr};
};

} // namespace platform
