#pragma once

#include <QObject>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace analysis
{

// Runs measures of frames on a thread of its own, so that the live picture
// never waits for one. The mailbox holds one measure: a measure posted while
// the one before is still waiting replaces it, so the worker always takes the
// newest frame and a slow measure costs readings, never latency.
//
// post(), replacedCount() and the destructor are called on the receiver's
// thread (the main thread). What a measure returns runs there too, queued, in
// posting order, and never once the worker is gone. The receiver must outlive
// the worker (its owner is the usual receiver).
class MeasureWorker
{
public:
    // Runs on the worker; returns what to run on the receiver's thread. It
    // holds the frame it measures (shared, not copied) until it has run.
    using Measure = std::function<std::function<void()>()>;

    MeasureWorker(QObject *receiver, const char *threadName);
    ~MeasureWorker(); // waits for a measure in progress, drops one waiting
    MeasureWorker(const MeasureWorker &) = delete;
    MeasureWorker &operator=(const MeasureWorker &) = delete;

    // Cheap: returns at once, replacing a measure not yet taken.
    void post(Measure measure);
    // Measures that were replaced in the mailbox before the worker took them.
    quint64 replacedCount() const;

private:
    void run(const char *threadName);

    QObject *m_receiver;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    Measure m_mailbox; // guarded by m_mutex, like the two below
    quint64 m_replaced = 0;
    bool m_stopping = false;
    std::shared_ptr<bool> m_alive; // cleared on destruction; guards queued results
    std::thread m_thread;          // last: starts once everything above exists
};

} // namespace analysis
