// The viewer against the camera-box simulator process, the way a user starts it.

#include "app/MainWindow.h"
#include "platform/CameraAddress.h"
#include "platform/Controls.h"
#include "platform/ImageAssets.h"
#include "stream/CameraBuffer.h"
#include "support/LogCapture.h"
#include "support/SimProcess.h"
#include "support/ViewerFakes.h"
#include "ui_MainWindow.h"
#include "viewer/ViewController.h"

#include <QTest>

class tst_LivePicture : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void framesArriveAndAreCounted();
    void lossOfTheBoxIsReportedOnce();
    void switchingOnAfterTheLossStreamsAgain();
    void restartWhileStreamingKeepsTheNewStream();
};

void tst_LivePicture::framesArriveAndAreCounted()
{
    SimProcess sim;
    QVERIFY2(sim.start({QStringLiteral("--resolution"), QStringLiteral("8"),
                        QStringLiteral("--fps"), QStringLiteral("15")}),
             "camera-box-sim did not start");
    QVERIFY(CameraAddress::setBaseUrl(QUrl(sim.baseUrl())));

    ViewerFakes fakes;
    MainWindow window(fakes.services());
    window.show();
    window.controller().viewDidLoad();
    const ViewController &c = window.controller();

    QTRY_COMPARE_WITH_TIMEOUT(c.photoSize(), QSizeF(1280, 720), 10000);
    QCOMPARE(platform::controls::selectedTag(window.form().resolutionPopBtn), 8);
    QCOMPARE(window.form().previewImgeView->image().size(), QSize(1280, 720));
    // The label counts the frames of each second; any count above zero
    // shows frames flowing (exact rates belong to the benchmark).
    QTRY_VERIFY_WITH_TIMEOUT(window.form().fpsLab->text() != QLatin1String("FPS:0") &&
                                 window.form().fpsLab->text().startsWith(QLatin1String("FPS:")),
                             10000);
    QTRY_VERIFY_WITH_TIMEOUT(window.form().previewImgeView->paintCount() > 3, 10000);
}

void tst_LivePicture::lossOfTheBoxIsReportedOnce()
{
    SimProcess sim;
    QVERIFY(sim.start());
    QVERIFY(CameraAddress::setBaseUrl(QUrl(sim.baseUrl())));
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    window.controller().viewDidLoad();
    QTRY_VERIFY_WITH_TIMEOUT(window.controller().photoSize() == QSizeF(640, 480), 10000);

    LogCapture log;
    sim.kill();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("中断")), 1, 10000);
    QTest::qWait(500);
    QCOMPARE(log.count(QStringLiteral("中断")), 1);
}

void tst_LivePicture::switchingOnAfterTheLossStreamsAgain()
{
    SimProcess sim;
    QVERIFY(sim.start());
    const quint16 port = sim.port();
    QVERIFY(CameraAddress::setBaseUrl(QUrl(sim.baseUrl())));
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    window.show();
    window.controller().viewDidLoad();
    const ViewController &c = window.controller();
    QPushButton *status = window.form().statusBtn;
    QTRY_VERIFY_WITH_TIMEOUT(c.photoSize() == QSizeF(640, 480), 10000);
    QVERIFY(status->isChecked());

    // The box goes away: one end report, and the viewer is disconnected.
    LogCapture log;
    sim.kill();
    QTRY_VERIFY_WITH_TIMEOUT(c.isDisconnect(), 10000);
    QVERIFY(!status->isChecked());
    const QImage disconnect =
        platform::assets::image(QStringLiteral("Disconnect"), QSize(640, 360));
    QCOMPARE(window.form().previewImgeView->image(), disconnect);
    QTest::qWait(500);
    QCOMPARE(log.count(QStringLiteral("中断")), 1);
    QVERIFY(fakes.alerts.shown().isEmpty());

    // The box is back where it was; the user switches the stream on.
    SimProcess back;
    QVERIFY2(back.start({QStringLiteral("--port"), QString::number(port)}),
             "camera-box-sim did not come back on its port");
    QTest::mouseClick(status, Qt::LeftButton);
    QVERIFY(status->isChecked());
    QVERIFY(!c.isDisconnect());
    QCOMPARE(log.count(QStringLiteral("Off")), 1);
    QTRY_VERIFY_WITH_TIMEOUT(window.form().previewImgeView->image().size() == QSize(640, 480),
                             10000);
    QVERIFY(!c.isDisconnect());
    QVERIFY(CameraBuffer::shareInstance().isStreaming());
    QCOMPARE(log.count(QStringLiteral("中断")), 1);
}

void tst_LivePicture::restartWhileStreamingKeepsTheNewStream()
{
    SimProcess sim;
    QVERIFY(sim.start());
    QVERIFY(CameraAddress::setBaseUrl(QUrl(sim.baseUrl())));
    // Started away from the box's network: the stream runs, the button is off.
    ViewerFakes fakes;
    fakes.wifiName.setName(QStringLiteral("HomeNet"));
    MainWindow window(fakes.services());
    window.show();
    window.controller().viewDidLoad();
    const ViewController &c = window.controller();
    QPushButton *status = window.form().statusBtn;
    QVERIFY(!status->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(c.photoSize() == QSizeF(640, 480), 10000);

    // On the box's network now, the user switches the stream on while the
    // first transfer still runs: it is replaced, and its end comes later.
    fakes.wifiName.setName(QStringLiteral("Orbilens"));
    LogCapture log;
    QTest::mouseClick(status, Qt::LeftButton);
    QVERIFY(status->isChecked());
    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("中断")), 1, 10000);

    // Frames of the new transfer keep coming, and the viewer stays connected.
    const auto painted = window.form().previewImgeView->paintCount();
    QTRY_VERIFY_WITH_TIMEOUT(window.form().previewImgeView->paintCount() > painted + 3, 10000);
    QVERIFY(!c.isDisconnect());
    QVERIFY(status->isChecked());
    QVERIFY(CameraBuffer::shareInstance().isStreaming());
    QCOMPARE(window.form().previewImgeView->image().size(), QSize(640, 480));
}

QTEST_MAIN(tst_LivePicture)
#include "tst_LivePicture.moc"
