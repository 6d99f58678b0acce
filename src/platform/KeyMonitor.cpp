#include "platform/KeyMonitor.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace platform
{

KeyMonitor::KeyMonitor(Handler handler, QObject *parent)
    : QObject(parent), m_handler(std::move(handler))
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

KeyMonitor::~KeyMonitor()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool KeyMonitor::eventFilter(QObject *watched, QEvent *event)
{
    // Only the window's step of a press: the same press then travels to the
    // focused widget and up its parents, and must not count again there.
    if (event->type() == QEvent::KeyPress && watched->isWindowType() && m_handler)
        m_handler(*static_cast<const QKeyEvent *>(event));
    return false;
}

} // namespace platform
