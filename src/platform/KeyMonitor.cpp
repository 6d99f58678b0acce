#include "platform/KeyMonitor.h"

#include <QAbstractItemView>
#include <QApplication>
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

bool windowHasKeyboard(const QWidget *window)
{
    // A modal dialog blocks its window's keys before any filter sees them; a
    // dialog that takes the keyboard is the active window instead of this one.
    if (!window || QApplication::activeWindow() != window || QApplication::activePopupWidget())
        return false;
    const QWidget *focus = QApplication::focusWidget();
    // Text input of every kind (line and text edits, spin boxes, editable
    // combo boxes) takes input-method events; lists and tables are item views.
    return !focus || !(focus->testAttribute(Qt::WA_InputMethodEnabled) ||
                       qobject_cast<const QAbstractItemView *>(focus));
}

} // namespace platform
