// Closing the window while a recording runs or finishes: the application
// quits as it does for the user (the last window closed ends the event loop),
// and the recording's file is complete afterwards. A test binary of its own,
// because it ends the application's event loop.

#include "app/AppDelegate.h"
#include "capture/Mp4Reader.h"
#include "platform/FileSync.h"
#include "support/LogCapture.h"
#include "support/WindowRig.h"

#include <QApplication>
#include <QScopeGuard>

#include <mutex>
#include <unistd.h>

class tst_CaptureAtExit : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void closingTheWindowFinishesTheRecording();
    void aFinishOutlastingTheExitNeverReportsBack();

private:
    // The window on the simulator at 20 fps, quitting through delegate, with
    // a video recording running.
    void startRecording(WindowRig &rig, AppDelegate &delegate)
    {
        delegate.attachTo(*qApp);
        QVERIFY2(rig.start({QStringLiteral("--fps"), QStringLiteral("20")}),
                 "camera-box-sim did not start");
        QTRY_VERIFY_WITH_TIMEOUT(!rig.c().photoSize().isEmpty(), 20000);
        rig.chooseMode(QStringLiteral("Video"));
        rig.press();
    }
};

void tst_CaptureAtExit::closingTheWindowFinishesTheRecording()
{
    WindowRig rig;
    AppDelegate delegate;
    LogCapture log;
    startRecording(rig, delegate);
    if (QTest::currentTestFailed())
        return;
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

void tst_CaptureAtExit::aFinishOutlastingTheExitNeverReportsBack()
{
    WindowRig rig;
    AppDelegate delegate;
    LogCapture log;
    startRecording(rig, delegate);
    if (QTest::currentTestFailed())
        return;
    ImageWritingVideoTool &writer = ImageWritingVideoTool::shareInstance();
    const QString path = writer.writePath();
    QTRY_VERIFY_WITH_TIMEOUT(writer.frame() >= 30, 20000);

    // A disk that takes its time: every sync waits until the test lets it go,
    // well past the exit's wait.
    std::mutex slowDisk;
    slowDisk.lock();
    platform::filesync::setHookForTests([&](int fd) {
        std::lock_guard pass(slowDisk);
        return ::fdatasync(fd);
    });
    const auto unhook = qScopeGuard([] { platform::filesync::setHookForTests({}); });
    // The user stops the recording and at once closes the window.
    rig.press();
    QTimer::singleShot(0, rig.window.get(), [&] { rig.window->close(); });
    QCOMPARE(QApplication::exec(), 0);
    QCOMPARE(writer.finishingCount(), 1);

    // The file is finished after the exit gave up on it, and cut back to
    // whole fragments; its report, meant for an application that is gone by
    // then, never comes.
    slowDisk.unlock();
    QTRY_COMPARE_WITH_TIMEOUT(writer.finishingCount(), 0, 20000);
    QCOMPARE(log.count(QStringLiteral("stopRecording0")) +
                 log.count(QStringLiteral("stopRecording1")),
             0);
    const Mp4Contents mp4 = readMp4(path, true);
    QVERIFY(mp4.plays(20));
    QVERIFY(int(mp4.pts.size()) <= log.count(QStringLiteral("视频写入")));
}

QTEST_MAIN(tst_CaptureAtExit)
#include "tst_CaptureAtExit.moc"
