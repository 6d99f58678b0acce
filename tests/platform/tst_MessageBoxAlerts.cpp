// Alerts as window-modal message boxes on the viewer's window: returning at
// once, waiting for the window, and one at a time.

#include "platform/MessageBoxAlerts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QTest>

namespace
{
platform::AlertContent tips(const QString &text)
{
    return {QStringLiteral("Tips"), text, {QStringLiteral("OK")}};
}

// Message boxes on screen, anywhere in the application.
QList<QMessageBox *> visibleBoxes()
{
    QList<QMessageBox *> boxes;
    for (QWidget *w : QApplication::allWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            boxes << box;
    return boxes;
}
} // namespace

class tst_MessageBoxAlerts : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sheetOnTheWindowReturnsAtOnce();
    void escapeEndsItAsOK();
    void waitsForTheWindowToBeShown();
    void waitsForAWindowToBeGiven();
    void secondAlertFollowsTheFirst();
    void alertFromACompletionFollows();
};

void tst_MessageBoxAlerts::sheetOnTheWindowReturnsAtOnce()
{
    QMainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    platform::MessageBoxAlerts alerts;
    alerts.setWindow(&window);

    QList<int> responses;
    alerts.show(tips(QStringLiteral("Some text")), [&](int r) { responses << r; });
    QVERIFY(responses.isEmpty());
    QTRY_VERIFY(alerts.current() && alerts.current()->isVisible());
    QMessageBox *box = alerts.current();
    QCOMPARE(box->parentWidget(), &window);
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    QCOMPARE(box->icon(), QMessageBox::Information);
    QCOMPARE(box->text(), QStringLiteral("Tips"));
    QCOMPARE(box->informativeText(), QStringLiteral("Some text"));
    QCOMPARE(box->buttons().size(), 1);
    QCOMPARE(box->buttons().first()->text(), QStringLiteral("OK"));
    QVERIFY(responses.isEmpty()); // nobody has answered yet

    box->buttons().first()->click();
    QCOMPARE(responses, QList<int>{1000});
    QCOMPARE(alerts.current(), nullptr);
    QTRY_VERIFY(visibleBoxes().isEmpty());
}

void tst_MessageBoxAlerts::escapeEndsItAsOK()
{
    QMainWindow window;
    window.show();
    platform::MessageBoxAlerts alerts;
    alerts.setWindow(&window);
    QList<int> responses;
    alerts.show(tips(QStringLiteral("x")), [&](int r) { responses << r; });
    QTRY_VERIFY(alerts.current());
    QTest::keyClick(alerts.current(), Qt::Key_Escape);
    QCOMPARE(responses, QList<int>{1000});
}

void tst_MessageBoxAlerts::waitsForTheWindowToBeShown()
{
    // As at start-up: the viewer checks the network before its window is up.
    QMainWindow window;
    platform::MessageBoxAlerts alerts;
    alerts.setWindow(&window);
    QList<int> responses;
    alerts.show(tips(QStringLiteral("early")), [&](int r) { responses << r; });
    QCoreApplication::processEvents();
    QCOMPARE(alerts.current(), nullptr);
    QVERIFY(visibleBoxes().isEmpty());
    QCOMPARE(alerts.waiting(), 1);

    window.show();
    QTRY_VERIFY(alerts.current() && alerts.current()->isVisible());
    QCOMPARE(alerts.current()->parentWidget(), &window);
    QCOMPARE(alerts.current()->informativeText(), QStringLiteral("early"));
    alerts.current()->buttons().first()->click();
    QCOMPARE(responses, QList<int>{1000});
}

void tst_MessageBoxAlerts::waitsForAWindowToBeGiven()
{
    platform::MessageBoxAlerts alerts;
    int ended = 0;
    alerts.show(tips(QStringLiteral("before any window")), [&](int) { ++ended; });
    QCoreApplication::processEvents();
    QVERIFY(visibleBoxes().isEmpty());

    QMainWindow window;
    window.show();
    alerts.setWindow(&window);
    QTRY_VERIFY(alerts.current() && alerts.current()->isVisible());
    alerts.current()->buttons().first()->click();
    QCOMPARE(ended, 1);
}

void tst_MessageBoxAlerts::secondAlertFollowsTheFirst()
{
    QMainWindow window;
    window.show();
    platform::MessageBoxAlerts alerts;
    alerts.setWindow(&window);
    QStringList ended;
    alerts.show(tips(QStringLiteral("first")), [&](int) { ended << QStringLiteral("first"); });
    alerts.show(tips(QStringLiteral("second")), [&](int) { ended << QStringLiteral("second"); });

    QTRY_VERIFY(alerts.current());
    QCOMPARE(alerts.current()->informativeText(), QStringLiteral("first"));
    QCOMPARE(alerts.waiting(), 1);
    QCOMPARE(visibleBoxes().size(), 1);

    alerts.current()->buttons().first()->click();
    QCOMPARE(ended, QStringList{QStringLiteral("first")});
    QTRY_VERIFY(alerts.current() && alerts.current()->isVisible());
    QCOMPARE(alerts.current()->informativeText(), QStringLiteral("second"));
    QTRY_COMPARE(visibleBoxes().size(), 1);

    alerts.current()->buttons().first()->click();
    QCOMPARE(ended, (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
    QCOMPARE(alerts.waiting(), 0);
}

void tst_MessageBoxAlerts::alertFromACompletionFollows()
{
    QMainWindow window;
    window.show();
    platform::MessageBoxAlerts alerts;
    alerts.setWindow(&window);
    alerts.show(tips(QStringLiteral("first")),
                [&](int) { alerts.show(tips(QStringLiteral("from the answer")), [](int) {}); });
    QTRY_VERIFY(alerts.current());
    alerts.current()->buttons().first()->click();
    QTRY_VERIFY(alerts.current() && alerts.current()->isVisible());
    QCOMPARE(alerts.current()->informativeText(), QStringLiteral("from the answer"));
    QTRY_COMPARE(visibleBoxes().size(), 1);
}

QTEST_MAIN(tst_MessageBoxAlerts)
#include "tst_MessageBoxAlerts.moc"
