#include "analysis/HistogramWorker.h"

#include <QMetaObject>

#include <pthread.h>

namespace analysis
{

HistogramWorker::HistogramWorker(QObject *context, Report report)
    : m_context(context), m_report(std::move(report)),
      m_thread([this](std::stop_token stop) { run(std::move(stop)); })
{
}

HistogramWorker::~HistogramWorker()
{
    m_thread.request_stop(); // wakes the wait below
    m_thread.join();
}

void HistogramWorker::submit(const QImage &frame, const QRect &rect, Mask mask)
{
    {
        const std::lock_guard lock(m_mutex);
        m_pending = Job{frame, rect, mask};
    }
    m_wake.notify_one();
}

void HistogramWorker::run(std::stop_token stop)
{
    pthread_setname_np(pthread_self(), "orbilens-histo");
    while (!stop.stop_requested()) { // a frame still waiting at the end is dropped
        Job job;
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait(lock, stop, [this] { return m_pending.has_value(); }))
                return; // stop requested
            job = std::move(*m_pending);
            m_pending.reset();
        }
        Result result{histogramOf(job.frame, job.rect), {}};
        if (job.mask == Mask::Clipped)
            result.clipMask = clippedMask(job.frame, job.rect);
        job.frame = QImage(); // the frame's pixels go back before the report waits in a queue

        // Only values cross to the main thread. The context ends pending calls
        // when it is destroyed, so a report never reaches a destroyed owner.
        QMetaObject::invokeMethod(
            m_context, [report = m_report, result = std::move(result)] { report(result); },
            Qt::QueuedConnection);
    }
}

} // namespace analysis
