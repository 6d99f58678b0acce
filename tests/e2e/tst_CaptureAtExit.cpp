// Closing the window while a recording runs: the application quits as it
// does for the user (the last window closed ends the event loop), and the
// recording's file is complete afterwards. A test binary of its own, because
// it ends the application's event loop.

#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "capture/ImageWritingVideoTool.h"
#include "capture/Mp4Reader.h"
#include "platform/CameraAddress.h"
#include "stream/CameraBuffer.h"
#include "support/LogCapture.h"
#include "support/SimProcess.h"
#include "support/ViewerFakes.h"
#include "ui_MainWindow.h"
#include "viewer/ViewController.h"

#include <QApplication>
#include <QDir>
#include <QTest>

class tst_CaptureAtExit : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void closingTheWindowKeepsTheRecording();
};

void tst_CaptureAtExit::closingTheWindowKeepsTheRecording()
{
    SimProcess sim;
    QVERIFY2(sim.start({QStringLiteral("--resolution"), QStringLiteral("8"),
                        QStringLiteral("--fps"), QStringLiteral("20")}),
             "camera-box-sim did not start");
    QVERIFY(CameraAddress::setBaseUrl(QUrl(sim.baseUrl())));

    AppDelegate delegate;
    delegate.attachTo(*qApp);
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.controller().viewDidLoad();
    ViewController &c = window.controller();
    QTRY_COMPARE_WITH_TIMEOUT(c.photoSize(), QSizeF(1280, 720), 20000);
    for (QPushButton *button : window.modeButtons())
        if (button->text() == QLatin1String("Video"))
            QTest::mouseClick(button, Qt::LeftButton);

    LogCapture log;
    QTest::mouseClick(window.form().photoBtn, Qt::LeftButton);
    QVERIFY(c.isVideo());
    ImageWritingVideoTool &writer = ImageWritingVideoTool::shareInstance();
    const QString path = writer.writePath();
    QTRY_VERIFY_WITH_TIMEOUT(writer.frame() >= 40, 20000);

    // The user closes the window mid-recording; the application runs its
    // exit as it would after its main loop.
    QTimer::singleShot(0, &window, [&window] { window.close(); });
    QCOMPARE(QApplication::exec(), 0);

    // By the time the loop has returned, the file is finished.
    QVERIFY(!writer.isRecording());
    QCOMPARE(writer.finishingCount(), 0);
    QCOMPARE(log.count(QStringLiteral("A recording was cut short at exit.")), 0);
    const int written = log.count(QStringLiteral("视频写入"));
    QVERIFY(written >= 40);
    const Mp4Contents mp4 = readMp4(path, true);
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QCOMPARE(int(mp4.pts.size()), written);
    QCOMPARE(mp4.decodedFrames, written);
    QVERIFY(mp4.hasContiguousTimes(20));
    const ProbeReport probe = ffprobe(path);
    QCOMPARE(probe.exitCode, 0);
    QVERIFY2(probe.errors.isEmpty(), qPrintable(probe.errors));
    QCOMPARE(probe.readFrames, written);

    CameraBuffer::shareInstance().setDelegate(nullptr);
    CameraBuffer::shareInstance().stopTaskWiFiBox();
}

QTEST_MAIN(tst_CaptureAtExit)
#include "tst_CaptureAtExit.moc"
