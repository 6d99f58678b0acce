#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QTimer>

namespace platform::mainqueue
{

void post(QObject *context, std::function<void()> fn)
{
    QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
}

void postAfter(std::chrono::milliseconds delay, QObject *context, std::function<void()> fn)
{
    QTimer::singleShot(delay, Qt::PreciseTimer, context, std::move(fn));
}

} // namespace platform::mainqueue
