#include "platform/ScheduledTimer.h"

#include "platform/ThreadRules.h"

namespace platform
{

ScheduledTimer::ScheduledTimer(std::chrono::milliseconds interval, Repeat repeat,
                               std::function<void()> action)
    : m_interval(interval), m_repeat(repeat), m_action(std::move(action))
{
    ORBILENS_ASSERT_MAIN_THREAD();
    // Precise, so that the 0.625 s time-lapse period does not drift by the
    // coarse timer's 5 % slack.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(repeat == Repeat::Once);
    m_timer.setInterval(interval);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { fire(); });
    m_timer.start();
}

ScheduledTimer::~ScheduledTimer()
{
    invalidate();
}

void ScheduledTimer::invalidate()
{
    ORBILENS_ASSERT_MAIN_THREAD();
    m_valid = false;
    m_timer.stop();
}

void ScheduledTimer::fire()
{
    ORBILENS_ASSERT_MAIN_THREAD();
    if (!m_valid)
        return;
    if (m_repeat == Repeat::Once)
        invalidate();
    // Copy: the action may destroy this timer (a one-shot that replaces itself).
    auto action = m_action;
    if (action)
        action();
}

} // namespace platform
