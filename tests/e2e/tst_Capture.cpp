// Photos, video and time-lapse recordings against the camera-box simulator
// process, through the window's own buttons, with the files read back with
// libavformat. Recordings run in real time; only counts are checked.

#include "capture/ImageWritingVideoTool.h"
#include "capture/Mp4Reader.h"
#include "support/WindowRig.h"
#include "platform/Controls.h"
#include "stream/CameraBuffer.h"
#include "support/LogCapture.h"
#include "ui_MainWindow.h"
#include "viewer/ViewController.h"

#include <QAbstractItemView>
#include <QDir>
#include <QElapsedTimer>
#include <QImageReader>
#include <QTest>

#include <cmath>

namespace
{
constexpr int kTimeoutMs = 20000;
const QString kSaved = QStringLiteral("Saved successfully");
const QString kWritten = QStringLiteral("视频写入");

ImageWritingVideoTool &writer()
{
    return ImageWritingVideoTool::shareInstance();
}

// Stands between the stream client and the controller and counts the frames
// that the controller receives while a recording runs, of the recording's
// size: the frames the user saw being recorded.
class FrameCounter final : public CameraBufferDelegate
{
public:
    explicit FrameCounter(ViewController &controller) : m_controller(controller) {}

    void cameraFPS(qint64 frames) override { m_controller.cameraFPS(frames); }
    void disconnection() override { m_controller.disconnection(); }
    void cameraBufferImage(const QImage &image) override
    {
        const bool recordingSize = QSizeF(image.size()) == m_controller.photoSize();
        if (m_controller.isVideo() && recordingSize && !m_controller.isSnapshot())
            ++shownWhileRecording;
        m_controller.cameraBufferImage(image);
    }

    int shownWhileRecording = 0;

private:
    ViewController &m_controller;
};

// The window on the simulator, with the frames shown while recording counted.
class Rig : public WindowRig
{
public:
    bool start(int resolutionTag, int fps)
    {
        if (!WindowRig::start({QStringLiteral("--resolution"), QString::number(resolutionTag),
                                QStringLiteral("--fps"), QString::number(fps)},
                               QSize(1200, 800)))
            return false;
        counter = std::make_unique<FrameCounter>(c());
        CameraBuffer::shareInstance().setDelegate(counter.get());
        return true;
    }

    // The counter leaves before the stream is stopped.
    ~Rig() override
    {
        if (CameraBuffer::hasSharedInstance())
            CameraBuffer::shareInstance().setDelegate(nullptr);
    }

    std::unique_ptr<FrameCounter> counter;
};

void chooseResolution(QComboBox *popUp, int tag)
{
    const int row = popUp->findData(tag);
    QVERIFY(row >= 0);
    popUp->showPopup();
    QAbstractItemView *list = popUp->view();
    QTRY_VERIFY(list->isVisible());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(row, 0)).center());
    QTRY_VERIFY(!list->isVisible());
}
} // namespace

class tst_Capture : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void onePressSavesOnePhoto();
    void videoHoldsEveryFrameShown();
    void timeLapseSamplesTheStream();
    void resolutionChangeEndsTheRecording();
    void streamLossSavesTheRecording();
    void hourLimitStopsTheRecording();
    void denoisingWritesNothing();
};

void tst_Capture::onePressSavesOnePhoto()
{
    Rig rig;
    QVERIFY2(rig.start(8, 15), "camera-box-sim did not start");
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().photoSize(), QSizeF(1280, 720), kTimeoutMs);

    rig.press();
    // The press asks; the next frame answers.
    QVERIFY(rig.c().isSnapshot());
    QVERIFY(rig.files(QStringLiteral("*")).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(rig.files(QStringLiteral("*")).size(), 1, kTimeoutMs);
    QVERIFY(!rig.c().isSnapshot());
    QCOMPARE(rig.notice(), kSaved);

    const QString name = rig.files(QStringLiteral("*")).first();
    QVERIFY(name.endsWith(QLatin1String(".jpg")));
    QImageReader reader(rig.path(name));
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    QCOMPARE(reader.size(), QSize(1280, 720));
    QVERIFY(!reader.read().isNull());

    QTest::qWait(500); // more frames, no more photos
    QCOMPARE(rig.files(QStringLiteral("*")).size(), 1);
}

void tst_Capture::videoHoldsEveryFrameShown()
{
    Rig rig;
    QVERIFY2(rig.start(8, 20), "camera-box-sim did not start");
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().photoSize(), QSizeF(1280, 720), kTimeoutMs);
    rig.chooseMode(QStringLiteral("Video"));
    QCOMPARE(rig.c().cameraStyleType(), 1);

    LogCapture log;
    rig.press();
    QVERIFY(rig.c().isVideo());
    QVERIFY(!rig.form().timeLab->isHidden());
    QTest::qWait(2500);
    // Halfway through, every mode button is refused.
    for (QPushButton *button : rig.window->modeButtons()) {
        rig.form().tipsLab->clear();
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(rig.notice(), QStringLiteral("Recording..."));
    }
    QCOMPARE(rig.c().cameraStyleType(), 1);
    QTest::qWait(2500);
    rig.press();
    QVERIFY(!rig.c().isVideo());
    QCOMPARE(rig.notice(), kSaved);
    const int shown = rig.counter->shownWhileRecording;

    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("stopRecording1")), 1, kTimeoutMs);
    const QStringList files = rig.files(QStringLiteral("*.mp4"));
    QCOMPARE(files.size(), 1);
    const Mp4Contents mp4 = readMp4(rig.path(files.first()), true);
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QCOMPARE(mp4.codecName, QStringLiteral("h264"));
    QCOMPARE(QSize(mp4.width, mp4.height), QSize(1280, 720));
    QVERIFY2(shown > 20, qPrintable(QStringLiteral("%1 frames in 5 s").arg(shown)));
    QVERIFY2(int(mp4.pts.size()) == shown,
             qPrintable(QStringLiteral("%1 frames shown, %2 in the file, %3 dropped")
                            .arg(shown)
                            .arg(mp4.pts.size())
                            .arg(writer().droppedFrames())));
    QCOMPARE(log.count(kWritten), shown);
    QCOMPARE(mp4.decodedFrames, shown);
    QVERIFY(mp4.hasContiguousTimes(20));
    qDebug("video: %d frames shown, %d in the file", shown, int(mp4.pts.size()));
}

void tst_Capture::timeLapseSamplesTheStream()
{
    Rig rig;
    QVERIFY2(rig.start(8, 15), "camera-box-sim did not start");
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().photoSize(), QSizeF(1280, 720), kTimeoutMs);
    rig.chooseMode(QStringLiteral("Time-lapse"));

    LogCapture log;
    QElapsedTimer elapsed;
    rig.press();
    elapsed.start();
    QVERIFY(rig.c().isVideo());
    QTest::qWait(10000);
    rig.press();
    const qint64 recordedMs = elapsed.elapsed();
    QVERIFY(!rig.c().isVideo());
    const int shown = rig.counter->shownWhileRecording;

    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("stopRecording1")), 1, kTimeoutMs);
    const QStringList files = rig.files(QStringLiteral("*.mp4"));
    QCOMPARE(files.size(), 1);
    const Mp4Contents mp4 = readMp4(rig.path(files.first()), true);
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QCOMPARE(QSize(mp4.width, mp4.height), QSize(1280, 720));
    QVERIFY(mp4.hasContiguousTimes(24));
    const int frames = int(mp4.pts.size());
    QCOMPARE(log.count(kWritten), frames);
    QCOMPARE(mp4.decodedFrames, frames);
    // One frame at the start and at most one per tick since: never more, and
    // on a busy machine not much less (the stream sends 15 frames a second).
    const int ticks = int(recordedMs / 625);
    qDebug("time-lapse: %d frames over %lld ms of %d shown", frames, recordedMs, shown);
    QVERIFY2(frames <= 1 + ticks && frames >= (1 + ticks) * 2 / 3 && frames < shown,
             qPrintable(QStringLiteral("%1 frames over %2 ms, %3 shown")
                            .arg(frames)
                            .arg(recordedMs)
                            .arg(shown)));
}

void tst_Capture::resolutionChangeEndsTheRecording()
{
    Rig rig;
    QVERIFY2(rig.start(8, 20), "camera-box-sim did not start");
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().photoSize(), QSizeF(1280, 720), kTimeoutMs);
    rig.chooseMode(QStringLiteral("Video"));
    LogCapture log;
    rig.press();
    QTRY_VERIFY_WITH_TIMEOUT(writer().frame() >= 10, kTimeoutMs);

    chooseResolution(rig.form().resolutionPopBtn, 11); // 640 x 360
    QTRY_VERIFY_WITH_TIMEOUT(!rig.c().isVideo(), kTimeoutMs);
    QCOMPARE(log.count(QStringLiteral("录制分辨率发生改变，已保存录制")), 1);
    QCOMPARE(rig.notice(),
             QStringLiteral("The resolution has changed and the video has been saved."));
    const int shown = rig.counter->shownWhileRecording;
    // The frames of the new size are the viewer's size from now on.
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().photoSize(), QSizeF(640, 360), kTimeoutMs);
    QCOMPARE(platform::controls::selectedTag(rig.form().resolutionPopBtn), 11);

    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("stopRecording1")), 1, kTimeoutMs);
    const QStringList files = rig.files(QStringLiteral("*.mp4"));
    QCOMPARE(files.size(), 1);
    const Mp4Contents mp4 = readMp4(rig.path(files.first()), true);
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QCOMPARE(QSize(mp4.width, mp4.height), QSize(1280, 720));
    // Only the frames of the old size went in.
    QCOMPARE(int(mp4.pts.size()), shown);
    QCOMPARE(log.count(kWritten), shown);
    QCOMPARE(mp4.decodedFrames, shown);
}

void tst_Capture::streamLossSavesTheRecording()
{
    Rig rig;
    QVERIFY2(rig.start(0, 20), "camera-box-sim did not start");
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().photoSize(), QSizeF(640, 480), kTimeoutMs);
    rig.chooseMode(QStringLiteral("Video"));
    LogCapture log;
    rig.press();
    QTRY_VERIFY_WITH_TIMEOUT(writer().frame() >= 10, kTimeoutMs);

    rig.sim().kill();
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().isDisconnect(), kTimeoutMs);
    // Saved before the flag was set, so the stop was not refused.
    QVERIFY(!rig.c().isVideo());
    QVERIFY(rig.fakes.alerts.shown().isEmpty());
    QCOMPARE(rig.notice(), kSaved);
    const int shown = rig.counter->shownWhileRecording;
    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("stopRecording1")), 1, kTimeoutMs);
    const QStringList files = rig.files(QStringLiteral("*.mp4"));
    QCOMPARE(files.size(), 1);
    const Mp4Contents mp4 = readMp4(rig.path(files.first()), true);
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QCOMPARE(int(mp4.pts.size()), shown);
    QCOMPARE(mp4.decodedFrames, shown);

    rig.press();
    QCOMPARE(rig.fakes.alerts.informativeTexts(),
             QStringList{QStringLiteral("Disconnected. Please reconnect.")});
    QVERIFY(!rig.c().isVideo());
    QCOMPARE(rig.files(QStringLiteral("*")).size(), 1);
}

void tst_Capture::hourLimitStopsTheRecording()
{
    Rig rig;
    QVERIFY2(rig.start(0, 15), "camera-box-sim did not start");
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().photoSize(), QSizeF(640, 480), kTimeoutMs);
    rig.chooseMode(QStringLiteral("Video"));
    LogCapture log;
    rig.press();
    QTRY_VERIFY_WITH_TIMEOUT(writer().frame() >= 5, kTimeoutMs);

    rig.c().setRecordTime(3599);
    rig.c().updateProgress();
    QCOMPARE(rig.form().timeLab->text(), QStringLiteral("60:00"));
    QVERIFY(rig.c().isVideo());
    // The clock's own next tick ends it.
    QTRY_VERIFY_WITH_TIMEOUT(!rig.c().isVideo(), kTimeoutMs);
    QCOMPARE(rig.c().timer(), nullptr);
    QCOMPARE(rig.notice(), kSaved);
    QVERIFY(rig.form().timeLab->isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("stopRecording1")), 1, kTimeoutMs);
    const QStringList files = rig.files(QStringLiteral("*.mp4"));
    QCOMPARE(files.size(), 1);
    const Mp4Contents mp4 = readMp4(rig.path(files.first()));
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QCOMPARE(int(mp4.pts.size()), rig.counter->shownWhileRecording);
}

void tst_Capture::denoisingWritesNothing()
{
    Rig rig;
    QVERIFY2(rig.start(0, 15), "camera-box-sim did not start");
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().photoSize(), QSizeF(640, 480), kTimeoutMs);
    rig.chooseMode(QStringLiteral("Denoise"));
    QCOMPARE(rig.c().cameraStyleType(), 3);
    rig.press();
    const auto painted = rig.form().previewImgeView->paintCount();
    QTRY_VERIFY_WITH_TIMEOUT(rig.form().previewImgeView->paintCount() > painted + 5, kTimeoutMs);
    rig.press();
    QTest::qWait(300);
    QVERIFY(!rig.c().isVideo());
    QVERIFY(!rig.c().isSnapshot());
    QVERIFY(!writer().isRecording());
    QVERIFY(rig.files(QStringLiteral("*")).isEmpty());
}

QTEST_MAIN(tst_Capture)
#include "tst_Capture.moc"
