// Closing the window while a recording runs: the application quits as it
// does for the user (the last window closed ends the event loop), and the
// recording's file is complete afterwards. A test binary of its own, because
// it ends the application's event loop. A finish that outlasts the exit's
// wait is tst_ImageWritingVideoTool's.

#include "app/AppDelegate.h"
#include "capture/Mp4Reader.h"
#include "support/LogCapture.h"
#include "support/WindowRig.h"

#include <QApplication>

class tst_CaptureAtExit : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void closingTheWindowFinishesTheRecording();
};

void tst_CaptureAtExit::closingTheWindowFinishesTheRecording()
{
    WindowRig rig;
    AppDelegate delegate;
    LogCapture log;
    delegate.attachTo(*qApp);
    QVERIFY2(rig.start({QStringLiteral("--fps"), QStringLiteral("20")}),
             "camera-box-sim did not start");
    QTRY_VERIFY_WITH_TIMEOUT(!rig.c().photoSize().isEmpty(), 20000);
    rig.chooseMode(QStringLiteral("Video"));
    rig.press();
    ImageWritingVideoTool &writer = ImageWritingVideoTool::shareInstance();
    const QString path = writer.writePath();
    QTRY_VERIFY_WITH_TIMEOUT(writer.frame() >= 40, 20000);

    // The user closes the window mid-recording; the application runs its
    // exit as it would after its main loop.
    QTimer::singleShot(0, rig.window.get(), [&] { rig.window->close(); });
    QCOMPARE(QApplication::exec(), 0);

    // By the time the loop has returned, the file is finished and whole.
    QVERIFY(!writer.isRecording());
    QCOMPARE(writer.finishingCount(), 0);
    const Mp4Contents mp4 = readMp4(path, true);
    QVERIFY(mp4.plays(20));
    QCOMPARE(int(mp4.pts.size()), log.count(QStringLiteral("视频写入")));
}

QTEST_MAIN(tst_CaptureAtExit)
#include "tst_CaptureAtExit.moc"
