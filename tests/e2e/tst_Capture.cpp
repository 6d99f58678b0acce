// Capture through the window's own buttons against the camera-box simulator
// process, the files read back with libavformat: captures take the whole
// frame while the preview runs reduced, and a recording outlives the box
// going away. Recordings run in real time; only counts are checked. The
// ends of a recording by the user, by a new size, by the disk or the folder
// are played in tst_ViewControllerCapture and tst_ImageWritingVideoTool.

#include "capture/Mp4Reader.h"
#include "stream/JpegDecoder.h"
#include "stream/StreamTask.h"
#include "support/LogCapture.h"
#include "support/LoopbackServer.h"
#include "support/WindowRig.h"

#include <QElapsedTimer>
#include <QScopeGuard>

#include <csignal>

using namespace Qt::StringLiterals;

namespace
{
constexpr int kTimeoutMs = 20000;
const QString kSaved = u"Saved successfully"_s;

ImageWritingVideoTool &writer()
{
    return ImageWritingVideoTool::shareInstance();
}

// The window on the simulator at 1280 x 720 and 20 frames a second.
bool start(WindowRig &rig)
{
    return rig.start({u"--resolution"_s, u"8"_s, u"--fps"_s, u"20"_s}) &&
           QTest::qWaitFor([&] { return rig.c().photoSize() == QSizeF(1280, 720); }, kTimeoutMs);
}
} // namespace

class tst_Capture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // While the preview decodes the frames at a reduced scale, what is saved
    // or written is still the whole frame.
    void capturesTakeTheWholeFrame_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("photo") << u"Photo"_s;
        QTest::newRow("video") << u"Video"_s;
        QTest::newRow("time-lapse") << u"Time-lapse"_s;
    }
    void capturesTakeTheWholeFrame()
    {
        QFETCH(QString, mode);
        const QByteArray jpeg = testimages::jpeg(1920, 1080, 5);
        LoopbackServer box(LoopbackServer::cameraBox(jpeg, 50));
        WindowRig rig;
        QVERIFY(rig.open(box.baseUrl(), {800, 500}));
        const platform::PreviewView *preview = rig.form().previewImgeView;
        // The view is smaller than half the frame.
        const auto reduced = [&] {
            return preview->image().size() == preview->decodeSizeFor({1920, 1080}) &&
                   preview->image().width() < 960;
        };
        QTRY_VERIFY_WITH_TIMEOUT(reduced(), kTimeoutMs);
        rig.chooseMode(mode);
        rig.press();
        if (mode == u"Photo") {
            QTRY_COMPARE_WITH_TIMEOUT(rig.files(u"*.jpg"_s).size(), 1, kTimeoutMs);
            // Byte for byte the file the full decode of the frame makes.
            QFile photo(rig.path(rig.files(u"*.jpg"_s).value(0))), full(rig.path(u"full.jpg"_s));
            QVERIFY(ViewController::saveImage(JpegDecoder().decode(jpeg), full.fileName()));
            QVERIFY(photo.open(QIODevice::ReadOnly) && full.open(QIODevice::ReadOnly));
            QVERIFY(photo.size() > 0 && photo.readAll() == full.readAll());
            QTRY_VERIFY_WITH_TIMEOUT(reduced(), kTimeoutMs);
            return;
        }
        const bool timeLapse = mode == u"Time-lapse";
        const QString path = writer().writePath();
        QElapsedTimer recorded;
        recorded.start();
        QTRY_VERIFY_WITH_TIMEOUT(writer().frame() >= 4, kTimeoutMs);
        // A time-lapse needs only the frames it samples at full size.
        QVERIFY(timeLapse ? QTest::qWaitFor(reduced, kTimeoutMs) : !reduced());
        rig.press();
        const qint64 recordedMs = recorded.elapsed();
        QCOMPARE(rig.notice(), kSaved);
        QTRY_VERIFY_WITH_TIMEOUT(writer().finishingCount() == 0, kTimeoutMs);
        // A frame drawn smaller than the file's size would leave the top rows
        // black (luma 16); the test picture's top row is near 67.
        const Mp4Contents mp4 = readMp4(path, true);
        QVERIFY(mp4.plays(timeLapse ? 24 : 20));
        QCOMPARE(QSize(mp4.width, mp4.height), QSize(1920, 1080));
        QVERIFY(*std::min_element(mp4.topRowLuma.begin(), mp4.topRowLuma.end()) > 40);
        // A time-lapse takes a frame at once and one per 0.625 s tick since:
        // never more, and on a busy machine not much less.
        const int ticks = 1 + int(recordedMs / 625), frames = int(mp4.pts.size());
        QVERIFY2(!timeLapse || (frames <= ticks && frames >= ticks * 2 / 3),
                 qPrintable(u"%1 frames in %2 ticks"_s.arg(frames).arg(ticks)));
        QTRY_VERIFY_WITH_TIMEOUT(reduced(), kTimeoutMs);
    }

    // The box goes away while a recording runs, killed or hung (its
    // connection open and silent): the recording ends and plays, capture is
    // refused with the reason while the box is gone, and once it is back the
    // stream and the next recording work.
    void boxGoesAwayMidRecording_data()
    {
        QTest::addColumn<bool>("hung");
        QTest::newRow("camera box killed") << false;
        QTest::newRow("camera box hung") << true;
    }
    void boxGoesAwayMidRecording()
    {
        QFETCH(bool, hung);
        WindowRig rig;
        QVERIFY2(start(rig), "camera-box-sim did not start");
        rig.chooseMode(u"Video"_s);
        LogCapture log;
        rig.press();
        const QString path = writer().writePath();
        QTRY_VERIFY_WITH_TIMEOUT(writer().frame() >= 30, kTimeoutMs);
        const auto box = pid_t(rig.sim().process().processId());
        const auto resume = qScopeGuard([&] {
            if (hung)
                ::kill(box, SIGCONT);
        });
        if (hung)
            ::kill(box, SIGSTOP);
        else
            rig.sim().kill();
        QElapsedTimer stalled;
        stalled.start();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.c().isVideo(), kTimeoutMs);
        // A hung box is given up by the idle time-out, not before it.
        if (hung)
            qInfo("stall to the end report: %.2f s", double(stalled.elapsed()) / 1000);
        QVERIFY(!hung || stalled.elapsed() > StreamTask::kIdleTimeout.count() - 100);
        QCOMPARE(rig.notice(), kSaved);
        QTRY_COMPARE_WITH_TIMEOUT(log.count(u"stopRecording1"_s), 1, kTimeoutMs);
        QCOMPARE(log.count(u"stopRecording0"_s), 0);
        const Mp4Contents mp4 = readMp4(path, true);
        const int frames = int(mp4.pts.size()), written = log.count(u"视频写入"_s);
        QVERIFY2(mp4.plays(20) && frames == written,
                 qPrintable(u"%1 frames of %2"_s.arg(frames).arg(written)));

        rig.press();
        QCOMPARE(rig.fakes.alerts.informativeTexts,
                 QStringList{u"Disconnected. Please reconnect."_s});
        QVERIFY(!rig.form().statusBtn->isChecked());
        if (hung)
            ::kill(box, SIGCONT);
        else
            QVERIFY2(rig.sim().start({u"--resolution"_s, u"8"_s, u"--fps"_s, u"20"_s, u"--port"_s,
                                      QString::number(rig.sim().port())}),
                     "camera-box-sim did not restart");
        QTest::mouseClick(rig.form().statusBtn, Qt::LeftButton);
        const auto painted = rig.form().previewImgeView->paintCount();
        QTRY_VERIFY_WITH_TIMEOUT(rig.form().previewImgeView->paintCount() > painted + 10,
                                 kTimeoutMs);
        rig.press();
        const QString again = writer().writePath();
        QVERIFY(rig.c().isVideo() && again.startsWith(rig.folder()));
        QTRY_VERIFY_WITH_TIMEOUT(writer().frame() >= 20, kTimeoutMs);
        rig.press();
        QTRY_COMPARE_WITH_TIMEOUT(log.count(u"stopRecording1"_s), 2, kTimeoutMs);
        QVERIFY(readMp4(again, true).plays(20));
        QCOMPARE(rig.fakes.alerts.informativeTexts.size(), 1);
    }
};

QTEST_MAIN(tst_Capture)
#include "tst_Capture.moc"
