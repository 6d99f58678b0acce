#include "analysis/MeasureWorker.h"

#include <QMetaObject>

#include <pthread.h>

namespace analysis
{

MeasureWorker::MeasureWorker(QObject *receiver, const char *threadName)
    : m_receiver(receiver), m_alive(std::make_shared<bool>(true)),
      m_thread([this, threadName] { run(threadName); })
{
}

MeasureWorker::~MeasureWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_mailbox = nullptr;
        *m_alive = false; // results already queued on the receiver's thread are dropped
    }
    m_wake.notify_one();
    m_thread.join();
}

void MeasureWorker::post(Measure measure)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_mailbox)
            ++m_replaced;
        m_mailbox = std::move(measure);
    }
    m_wake.notify_one();
}

quint64 MeasureWorker::replacedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_replaced;
}

void MeasureWorker::run(const char *threadName)
{
    pthread_setname_np(pthread_self(), threadName);
    for (;;) {
        Measure measure;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || m_mailbox; });
            if (m_stopping)
                return;
            measure = std::exchange(m_mailbox, nullptr);
        }
        std::function<void()> result = measure();
        measure = nullptr; // the frame's pixels go back before the result waits in a queue
        // m_alive is read and cleared on the receiver's thread only.
        QMetaObject::invokeMethod(
            m_receiver,
            [alive = m_alive, result = std::move(result)] {
                if (*alive)
                    result();
            },
            Qt::QueuedConnection);
    }
}

} // namespace analysis
