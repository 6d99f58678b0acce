#include "analysis/AnalysisWorker.h"

#include <QElapsedTimer>
#include <QMetaObject>

namespace analysis
{

AnalysisWorker::AnalysisWorker(QObject *receiver, Report report)
    : m_receiver(receiver), m_report(std::move(report)), m_alive(std::make_shared<bool>(true)),
      m_thread([this] { run(); })
{
}

AnalysisWorker::~AnalysisWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_mailbox.reset();
        *m_alive = false; // reports already queued on the receiver's thread are dropped
    }
    m_wake.notify_one();
    m_thread.join();
}

void AnalysisWorker::post(const QImage &frame, const QRect &region, quint64 frameNumber)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_mailbox)
            ++m_replaced;
        m_mailbox = Job{frame, region, frameNumber};
    }
    m_wake.notify_one();
}

quint64 AnalysisWorker::replacedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_replaced;
}

void AnalysisWorker::run()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || m_mailbox.has_value(); });
            if (m_stopping)
                return;
            job = std::move(*m_mailbox);
            m_mailbox.reset();
        }
        QElapsedTimer clock;
        clock.start();
        Reading reading{measureSharpness(job.frame, job.region), job.frameNumber, 0};
        reading.costMicroseconds = clock.nsecsElapsed() / 1000;
        job.frame = QImage(); // let the stream reuse the pixels as soon as possible

        // m_alive is read and cleared on the receiver's thread only.
        QMetaObject::invokeMethod(
            m_receiver,
            [alive = m_alive, report = m_report, reading] {
                if (*alive)
                    report(reading);
            },
            Qt::QueuedConnection);
    }
}

} // namespace analysis
