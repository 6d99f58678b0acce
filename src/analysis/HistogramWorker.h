#pragma once

#include "analysis/Histogram.h"

#include <QImage>
#include <QRect>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace analysis
{

// Measures frames on a thread of its own, so that the live picture never
// waits for a histogram. Its mailbox holds one frame: a frame handed in while
// the one before is still waiting replaces it, so the measures always follow
// the newest frame and a slow measure only skips frames.
//
// submit() and the destructor are called on the thread that owns context
// (the main thread); report runs there too, queued, for each measured frame,
// and never after context is gone. The destructor stops and joins the thread.
class HistogramWorker
{
public:
    enum class Mask { None = 1, Clipped }; // whether a result carries the clipped mask

    struct Result {
        Histogram histogram;
        QImage clipMask; // clippedMask() of the frame, or null with Mask::None
    };
    using Report = std::function<void(const Result &result)>;

    HistogramWorker(QObject *context, Report report);
    ~HistogramWorker();
    HistogramWorker(const HistogramWorker &) = delete;
    HistogramWorker &operator=(const HistogramWorker &) = delete;

    // Measures rect of frame (frame is shared, not copied), replacing a frame
    // not yet taken.
    void submit(const QImage &frame, const QRect &rect, Mask mask);

private:
    struct Job {
        QImage frame;
        QRect rect;
        Mask mask;
    };
    void run(std::stop_token stop);

    QObject *m_context; // outlives the worker: the owner is, or owns, the context
    Report m_report;
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::optional<Job> m_pending; // the mailbox, guarded by m_mutex
    std::jthread m_thread;        // last: started once everything above exists
};

} // namespace analysis
