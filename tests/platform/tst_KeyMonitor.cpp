// The key monitor sees each key press once, before the window handles it,
// and every event goes on exactly as it came.

#include "platform/KeyMonitor.h"

#include <QKeyEvent>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

namespace
{

// What a key event carries that a handler could have changed.
struct KeySeen {
    QEvent::Type type;
    int key;
    Qt::KeyboardModifiers modifiers;
    QString text;
    bool autoRepeat;
    bool accepted;
    bool operator==(const KeySeen &) const = default;
};

KeySeen seen(const QKeyEvent &event)
{
    return {event.type(), event.key(),          event.modifiers(),
            event.text(), event.isAutoRepeat(), event.isAccepted()};
}

// Records every key event it gets; optionally leaves them to its parent.
class KeyTarget : public QWidget
{
public:
    explicit KeyTarget(bool passOn, QWidget *parent = nullptr) : QWidget(parent), m_passOn(passOn)
    {
        setFocusPolicy(Qt::StrongFocus);
    }
    QList<KeySeen> events;
    std::function<void()> onPress;

protected:
    void keyPressEvent(QKeyEvent *event) override { record(event); }
    void keyReleaseEvent(QKeyEvent *event) override { record(event); }

private:
    void record(QKeyEvent *event)
    {
        events.append(seen(*event));
        if (event->type() == QEvent::KeyPress && onPress)
            onPress();
        if (m_passOn)
            event->ignore();
    }
    bool m_passOn;
};

// A window whose focused child passes keys on to the window's own widget.
struct Window {
    KeyTarget top{false};
    KeyTarget *child = new KeyTarget(true, &top);

    Window()
    {
        auto *layout = new QVBoxLayout(&top);
        layout->addWidget(child);
        top.resize(200, 100);
        top.show();
        child->setFocus();
    }
};

// Presses and releases through the window, as the windowing system sends
// them: plain, with modifiers, with text, and a held key's repeats.
void typeSequence(QWindow *window)
{
    QTest::keyClick(window, Qt::Key_Left);
    QTest::keyClick(window, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(window, 'x');
    QTest::simulateEvent(window, true, Qt::Key_Right, {}, {}, false);
    QTest::simulateEvent(window, true, Qt::Key_Right, {}, {}, true);
    QTest::simulateEvent(window, true, Qt::Key_Right, {}, {}, true);
    QTest::simulateEvent(window, false, Qt::Key_Right, {}, {}, false);
    QTest::keyClick(window, Qt::Key_Escape);
}

// Sees every event of the application, after the monitor was installed.
class LaterFilter : public QObject
{
public:
    int keyPresses = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        keyPresses += event->type() == QEvent::KeyPress;
        return false;
    }
};

} // namespace

class tst_KeyMonitor : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void handsEveryEventOnUnchanged();
    void reportsEachPressOnceBeforeTheWindow();
    void heldKeyRepeatsArePresses();
    void stopsWhenDestroyed();
};

void tst_KeyMonitor::handsEveryEventOnUnchanged()
{
    // The same keys with and without the monitor reach the widgets alike.
    QList<KeySeen> withoutChild, withoutTop;
    {
        Window window;
        QVERIFY(QTest::qWaitForWindowExposed(&window.top));
        typeSequence(window.top.windowHandle());
        withoutChild = window.child->events;
        withoutTop = window.top.events;
    }
    QVERIFY(withoutChild.size() >= 12);

    int handled = 0;
    platform::KeyMonitor monitor([&handled](const QKeyEvent &) { ++handled; });
    LaterFilter later;
    qApp->installEventFilter(&later); // a filter installed later runs first
    Window window;
    QVERIFY(QTest::qWaitForWindowExposed(&window.top));
    typeSequence(window.top.windowHandle());
    qApp->removeEventFilter(&later);

    QCOMPARE(window.child->events, withoutChild);
    QCOMPARE(window.top.events, withoutTop);
    QVERIFY(handled > 0);
    QVERIFY(later.keyPresses >= handled);
}

void tst_KeyMonitor::reportsEachPressOnceBeforeTheWindow()
{
    QStringList order;
    QList<KeySeen> reported;
    platform::KeyMonitor monitor([&](const QKeyEvent &event) {
        order << QStringLiteral("monitor");
        reported << seen(event);
    });
    Window window;
    QVERIFY(QTest::qWaitForWindowExposed(&window.top));
    window.child->onPress = [&order] { order << QStringLiteral("child"); };
    window.top.onPress = [&order] { order << QStringLiteral("top"); };

    // The press travels from the window to the child and on to its parent;
    // it is reported once, first.
    QTest::keyClick(window.top.windowHandle(), Qt::Key_Left);
    QCOMPARE(order, (QStringList{"monitor", "child", "top"}));
    QCOMPARE(reported.size(), 1);
    QCOMPARE(reported[0].key, int(Qt::Key_Left));
    QCOMPARE(reported[0].type, QEvent::KeyPress);
    // The release is not a press.
    QCOMPARE(window.child->events.size(), 2);
    QCOMPARE(window.child->events[1].type, QEvent::KeyRelease);
}

void tst_KeyMonitor::heldKeyRepeatsArePresses()
{
    QList<KeySeen> reported;
    platform::KeyMonitor monitor([&reported](const QKeyEvent &event) { reported << seen(event); });
    Window window;
    QVERIFY(QTest::qWaitForWindowExposed(&window.top));
    QWindow *handle = window.top.windowHandle();
    QTest::simulateEvent(handle, true, Qt::Key_Left, {}, {}, false);
    for (int repeat = 0; repeat < 4; ++repeat)
        QTest::simulateEvent(handle, true, Qt::Key_Left, {}, {}, true);
    QTest::simulateEvent(handle, false, Qt::Key_Left, {}, {}, false);
    QCOMPARE(reported.size(), 5);
    QVERIFY(!reported[0].autoRepeat);
    for (int i = 1; i < 5; ++i) {
        QCOMPARE(reported[i].key, int(Qt::Key_Left));
        QVERIFY(reported[i].autoRepeat);
    }
}

void tst_KeyMonitor::stopsWhenDestroyed()
{
    int handled = 0;
    Window window;
    QVERIFY(QTest::qWaitForWindowExposed(&window.top));
    {
        platform::KeyMonitor monitor([&handled](const QKeyEvent &) { ++handled; });
        QTest::keyClick(window.top.windowHandle(), Qt::Key_Right);
        QCOMPARE(handled, 1);
    }
    QTest::keyClick(window.top.windowHandle(), Qt::Key_Right);
    QCOMPARE(handled, 1);
    QCOMPARE(window.child->events.size(), 4);
}

QTEST_MAIN(tst_KeyMonitor)
#include "tst_KeyMonitor.moc"
