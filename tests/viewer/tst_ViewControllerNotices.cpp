// The notice label: shown at full opacity, faded out by its one-shot timer.
// Timers are fired by hand; only the animations run on their own.

#include "app/MainWindow.h"
#include "support/ViewerFakes.h"
#include "ui_MainWindow.h"
#include "viewer/ViewController.h"

#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>
#include <QTest>

namespace
{
double opacity(QLabel *label)
{
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(label->graphicsEffect());
    return effect ? effect->opacity() : -1.0;
}

QAbstractAnimation::State animationState(QLabel *label)
{
    auto *animation = label->graphicsEffect()
                          ? label->graphicsEffect()->findChild<QPropertyAnimation *>()
                          : nullptr;
    return animation ? animation->state() : QAbstractAnimation::Stopped;
}
} // namespace

class tst_ViewControllerNotices : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void noticeShowsThenFadesAndStaysTransparent();
    void secondNoticeReplacesTextAndRestartsThePeriod();
    void noticeDuringTheFadeReturnsToFullOpacity();
};

void tst_ViewControllerNotices::noticeShowsThenFadesAndStaysTransparent()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    ViewController &c = window.controller();
    QLabel *label = window.form().tipsLab;
    QVERIFY(label->isHidden()); // as the layout has it
    QCOMPARE(c.tipsLabTimer(), nullptr);

    c.showTipsLabWithTipsStr(QStringLiteral("Saved successfully"));
    QCOMPARE(label->text(), QStringLiteral("Saved successfully"));
    QVERIFY(!label->isHidden());
    QTRY_COMPARE(opacity(label), 1.0);
    QVERIFY(c.tipsLabTimer() && c.tipsLabTimer()->isValid());
    QCOMPARE(c.tipsLabTimer()->interval(), std::chrono::milliseconds(2000));

    c.tipsLabTimer()->fire();
    QVERIFY(!c.tipsLabTimer()->isValid()); // kept, no longer valid
    QTRY_COMPARE(opacity(label), 0.0);
    QTRY_COMPARE(animationState(label), QAbstractAnimation::Stopped);
    QVERIFY(!label->isHidden());
    QCOMPARE(label->text(), QStringLiteral("Saved successfully"));
}

void tst_ViewControllerNotices::secondNoticeReplacesTextAndRestartsThePeriod()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    ViewController &c = window.controller();
    QLabel *label = window.form().tipsLab;

    c.showTipsLabWithTipsStr(QStringLiteral("Recording..."));
    const platform::ScheduledTimer *first = c.tipsLabTimer();
    QVERIFY(first && first->isValid());

    c.showTipsLabWithTipsStr(QStringLiteral("Saved successfully"));
    QCOMPARE(label->text(), QStringLiteral("Saved successfully"));
    // A new full period, not the rest of the first one.
    QVERIFY(c.tipsLabTimer() != first);
    QVERIFY(c.tipsLabTimer()->isValid());
    QCOMPARE(c.tipsLabTimer()->interval(), std::chrono::milliseconds(2000));
    QTRY_COMPARE(opacity(label), 1.0);

    c.tipsLabTimer()->fire();
    QTRY_COMPARE(opacity(label), 0.0);
}

void tst_ViewControllerNotices::noticeDuringTheFadeReturnsToFullOpacity()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    ViewController &c = window.controller();
    QLabel *label = window.form().tipsLab;

    c.showTipsLabWithTipsStr(QStringLiteral("Recording..."));
    QTRY_COMPARE(opacity(label), 1.0);
    c.tipsLabTimer()->fire();
    QTRY_VERIFY(opacity(label) < 1.0); // the fade has begun

    c.showTipsLabWithTipsStr(QStringLiteral("Saved successfully"));
    QCOMPARE(label->text(), QStringLiteral("Saved successfully"));
    QVERIFY(c.tipsLabTimer()->isValid());
    QTRY_COMPARE(opacity(label), 1.0);
    QTRY_COMPARE(animationState(label), QAbstractAnimation::Stopped);
    // Longer than a fade: nothing of the old fade is left to pull it down.
    QTest::qWait(int(ViewController::kNoticeFadeOut.count()) + 300);
    QCOMPARE(opacity(label), 1.0);
    QVERIFY(c.tipsLabTimer()->isValid());
}

QTEST_MAIN(tst_ViewControllerNotices)
#include "tst_ViewControllerNotices.moc"
