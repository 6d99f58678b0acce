#pragma once

#include <QObject>

#include <functional>

class QKeyEvent;
class QWidget;

namespace platform
{

// Watches every key press of the application before the window that it is
// addressed to handles it, and never swallows or changes one: the event goes
// on through the window's own key handling exactly as it came.
//
// Qt hands a key press first to its window and then to the focused widget
// and its parents, and an application-wide filter sees every one of those
// steps. The monitor reports each press once, at the first step, where every
// press from the windowing system arrives. Auto-repeated presses of a held key
// are presses like any other (QKeyEvent::isAutoRepeat() tells them apart for a
// handler that cares). Presses sent straight to a widget, never through its
// window, are not seen.
//
// Main thread only. The handler runs synchronously, inside the event's
// delivery; it receives the event read-only. The monitor watches from
// construction until it is destroyed.
class KeyMonitor : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(const QKeyEvent &event)>;

    explicit KeyMonitor(Handler handler, QObject *parent = nullptr);
    ~KeyMonitor() override;

protected:
    // Always false: the event goes on.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Handler m_handler;
};

// True while the keyboard belongs to window itself: it is the active window,
// no pop-up (a list, a menu) is open, and the widget with the keyboard focus
// is no text field and no list, which take the arrow keys for themselves.
// Window-wide shortcuts act only then; otherwise the keys are the dialog's,
// the pop-up's or the field's. A null window never has it. Main thread only.
bool windowHasKeyboard(const QWidget *window);

} // namespace platform
