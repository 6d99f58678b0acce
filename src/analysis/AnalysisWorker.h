#pragma once

#include "analysis/Sharpness.h"

#include <QImage>
#include <QObject>
#include <QRect>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace analysis
{

// Measures frames on a thread of its own, so that the live picture never
// waits for a measure. The mailbox holds one frame: a frame posted while the
// previous one is still waiting replaces it, so the worker always takes the
// newest frame and a slow measure costs readings, never latency.
// Readings are delivered on the thread of the receiver given at construction
// (the main thread), in posting order; none arrives after the worker is gone.
// The receiver must outlive the worker (its owner is the usual receiver).
class AnalysisWorker
{
public:
    struct Reading {
        Sharpness sharpness;
        quint64 frameNumber = 0; // as posted
        qint64 costMicroseconds = 0;
    };
    using Report = std::function<void(const Reading &)>;

    AnalysisWorker(QObject *receiver, Report report);
    ~AnalysisWorker(); // waits for a measure in progress, drops one waiting
    AnalysisWorker(const AnalysisWorker &) = delete;
    AnalysisWorker &operator=(const AnalysisWorker &) = delete;

    // Cheap: shares the frame's pixels (no copy) and returns at once.
    void post(const QImage &frame, const QRect &region, quint64 frameNumber);

    // Frames that were replaced in the mailbox before the worker took them.
    quint64 replacedCount() const;

private:
    struct Job {
        QImage frame;
        QRect region;
        quint64 frameNumber = 0;
    };
    void run();

    QObject *m_receiver;
    Report m_report;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Job> m_mailbox;
    quint64 m_replaced = 0;
    bool m_stopping = false;
    std::shared_ptr<bool> m_alive; // cleared on destruction; guards queued reports
    std::thread m_thread;          // last: starts once everything above exists
};

} // namespace analysis
