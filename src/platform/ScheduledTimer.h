#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace platform
{

// A timer on the creating thread's event loop, with the life cycle the viewer
// relies on: the first firing comes one interval after creation, a repeating
// timer fires until invalidated, and a one-shot timer is no longer valid once
// it has fired. Invalidating an invalid timer does nothing. Destroying the
// object invalidates it. Main thread only.
class ScheduledTimer
{
public:
    enum class Repeat { Once, Forever };

    ScheduledTimer(std::chrono::milliseconds interval, Repeat repeat, std::function<void()> action);
    ~ScheduledTimer();
    ScheduledTimer(const ScheduledTimer &) = delete;
    ScheduledTimer &operator=(const ScheduledTimer &) = delete;

    static std::unique_ptr<ScheduledTimer> scheduled(std::chrono::milliseconds interval,
                                                     Repeat repeat, std::function<void()> action)
    {
        return std::make_unique<ScheduledTimer>(interval, repeat, std::move(action));
    }

    bool isValid() const { return m_valid; }
    void invalidate();
    std::chrono::milliseconds interval() const { return m_interval; }

    // Fires now, as if the interval had passed (tests drive clocks with it).
    void fire();

private:
    QTimer m_timer;
    std::chrono::milliseconds m_interval;
    Repeat m_repeat;
    std::function<void()> m_action;
    bool m_valid = true;
};

} // namespace platform
