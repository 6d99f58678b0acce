// The capture modes and the frame capture step, through the real window with
// frames handed in by the test and the real video writer; recordings are read
// back with libavformat. Clocks are fired by hand.

#include "app/MainWindow.h"
#include "capture/ImageWritingVideoTool.h"
#include "capture/Mp4Reader.h"
#include "platform/CameraAddress.h"
#include "platform/Controls.h"
#include "platform/ImageAssets.h"
#include "support/LogCapture.h"
#include "support/LoopbackServer.h"
#include "support/TestImages.h"
#include "support/ViewerFakes.h"
#include "ui_MainWindow.h"
#include "viewer/ViewController.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>

namespace
{
const QString kSaved = QStringLiteral("Saved successfully");
const QString kRecording = QStringLiteral("Recording...");
const QString kResolutionChanged =
    QStringLiteral("The resolution has changed and the video has been saved.");
const QString kNoPictureYet = QStringLiteral("No picture to record yet.");
const QString kCouldNotStart = QStringLiteral("The recording could not start.");
const QString kDisconnected = QStringLiteral("Disconnected. Please reconnect.");

ImageWritingVideoTool &writer()
{
    return ImageWritingVideoTool::shareInstance();
}

// Every value of every quantisation table of a JPEG file, in file order.
QList<int> quantisationSteps(const QByteArray &jpeg)
{
    QList<int> steps;
    const auto byte = [&](qsizetype i) { return i < jpeg.size() ? uchar(jpeg[i]) : 0; };
    qsizetype i = 2; // after the start-of-image marker
    while (i + 4 <= jpeg.size() && byte(i) == 0xff && byte(i + 1) != 0xda) {
        const int marker = byte(i + 1);
        const qsizetype length = byte(i + 2) << 8 | byte(i + 3);
        if (marker == 0xdb) { // define quantisation tables
            for (qsizetype t = i + 4; t < i + 2 + length;) {
                const bool wide = byte(t) >> 4;
                ++t;
                for (int k = 0; k < 64; ++k, t += wide ? 2 : 1)
                    steps << (wide ? byte(t) << 8 | byte(t + 1) : byte(t));
            }
        }
        i += 2 + length;
    }
    return steps;
}

QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(QSize(72, 72)).toImage();
}

// The window on fakes, with the stored save folder loaded. The stream is not
// started: frames come from the test.
class Rig
{
public:
    Rig() : window(fakes.services()), c(window.controller()), form(window.form())
    {
        c.getFilePath();
    }

    void frame(int width, int height, int seed = 0)
    {
        c.cameraBufferImage(testimages::picture(width, height, seed));
    }
    void press() { QTest::mouseClick(form.photoBtn, Qt::LeftButton); }
    // Clicks the mode button that carries a mode's title.
    void chooseMode(const QString &title)
    {
        for (QPushButton *button : window.modeButtons())
            if (button->text() == title) {
                QTest::mouseClick(button, Qt::LeftButton);
                return;
            }
        QFAIL(qPrintable(QStringLiteral("no mode button titled %1").arg(title)));
    }
    QStringList files(const QString &pattern) const
    {
        return QDir(fakes.saveFolder.path()).entryList({pattern}, QDir::Files, QDir::Name);
    }
    QString path(const QString &name) const { return fakes.saveFolder.filePath(name); }
    bool buttonShows(const QString &name) const
    {
        return iconImage(form.photoBtn->icon()) == iconImage(platform::assets::icon(name));
    }
    QString notice() const { return form.tipsLab->text(); }

    ViewerFakes fakes;
    MainWindow window;
    ViewController &c;
    Ui::MainWindow &form;
};
} // namespace

class tst_ViewControllerCapture : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void modeButtonsSwapTitleAndTag();
    void captureButtonShowsTheMode_data();
    void captureButtonShowsTheMode();
    void recordingFrameRates_data();
    void recordingFrameRates();

    void saveImageEncodesByExtension();
    void failedSaveLeavesNoFile();
    void onePressSavesTheNextFrame();
    void unsavablePhotoUsesUpTheRequest();
    void photoDueAcrossAModeChangeIsStillAJpeg();
    void duePhotoTakesTheFrameFromTheRecording();
    void denoisingCapturesNothing();
    void captureWithoutASaveFolderIsSkipped();

    void videoRecordingStartsAndStops();
    void clockCountsAndStopsAfterTheHour();
    void newRecordingStartsTheClockAtZero();
    void modeIsKeptWhileRecording();
    void timeLapseTakesOneFramePerTick();
    void sizeChangeEndsTheRecording();
    void streamLossSavesBeforeRefusing();

    void recordingBeforeTheFirstFrameIsRefused_data();
    void recordingBeforeTheFirstFrameIsRefused();
    void writerThatCannotStartLeavesIdle_data();
    void writerThatCannotStartLeavesIdle();
    void fileThatFailsEndsTheRecording();

private:
    std::unique_ptr<LoopbackServer> m_server;
};

void tst_ViewControllerCapture::initTestCase()
{
    // Nothing here starts the stream; a quiet server stands ready all the same.
    m_server = std::make_unique<LoopbackServer>([](QTcpSocket *, const QByteArray &) {});
    QVERIFY(CameraAddress::setBaseUrl(QUrl(m_server->baseUrl())));
}

void tst_ViewControllerCapture::cleanup()
{
    // No recording of one test may still be writing into the next.
    QVERIFY(writer().finishAllAndWait(std::chrono::seconds(20)));
}

void tst_ViewControllerCapture::modeButtonsSwapTitleAndTag()
{
    Rig rig;
    QPushButton *current = rig.form.currentModeBtn;
    QCOMPARE(current->text(), QStringLiteral("Photo"));
    QCOMPARE(platform::controls::tag(current), 0);

    // The active mode's own title: nothing changes.
    QTest::mouseClick(current, Qt::LeftButton);
    QCOMPARE(current->text(), QStringLiteral("Photo"));
    QCOMPARE(rig.c.cameraStyleType(), 0);

    QTest::mouseClick(rig.form.modeBtn1, Qt::LeftButton);
    QCOMPARE(current->text(), QStringLiteral("Video"));
    QCOMPARE(platform::controls::tag(current), 1);
    QCOMPARE(rig.form.modeBtn1->text(), QStringLiteral("Photo"));
    QCOMPARE(platform::controls::tag(rig.form.modeBtn1), 0);
    QCOMPARE(rig.c.cameraStyleType(), 1);

    QTest::mouseClick(rig.form.modeBtn2, Qt::LeftButton);
    QCOMPARE(current->text(), QStringLiteral("Time-lapse"));
    QCOMPARE(rig.form.modeBtn2->text(), QStringLiteral("Video"));
    QCOMPARE(platform::controls::tag(rig.form.modeBtn2), 1);
    QCOMPARE(rig.c.cameraStyleType(), 2);

    // Back to photo through the button that took its title.
    QTest::mouseClick(rig.form.modeBtn1, Qt::LeftButton);
    QCOMPARE(rig.c.cameraStyleType(), 0);
    QCOMPARE(rig.form.modeBtn1->text(), QStringLiteral("Time-lapse"));
    QCOMPARE(platform::controls::tag(rig.form.modeBtn1), 2);
    // Four titles, four tags, each once.
    QSet<int> tags;
    for (QPushButton *button : rig.window.modeButtons())
        tags.insert(platform::controls::tag(button));
    QCOMPARE(tags, (QSet<int>{0, 1, 2, 3}));
}

void tst_ViewControllerCapture::captureButtonShowsTheMode_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("image");
    QTest::newRow("video") << "Video"
                           << "icon_camera_video_Default_White";
    QTest::newRow("time-lapse") << "Time-lapse"
                                << "WiFiCamera_Delay_Default_White";
    QTest::newRow("denoising") << "Denoise"
                               << "WiFiCamera_Denoising_White";
}

void tst_ViewControllerCapture::captureButtonShowsTheMode()
{
    QFETCH(QString, title);
    QFETCH(QString, image);
    Rig rig;
    QVERIFY(rig.buttonShows(QStringLiteral("icon_camera_shoot_White")));
    QVERIFY(!rig.buttonShows(image));
    rig.chooseMode(title);
    QVERIFY(rig.buttonShows(image));
    rig.chooseMode(QStringLiteral("Photo"));
    QVERIFY(rig.buttonShows(QStringLiteral("icon_camera_shoot_White")));
}

void tst_ViewControllerCapture::recordingFrameRates_data()
{
    QTest::addColumn<QSizeF>("size");
    QTest::addColumn<int>("videoFps");
    QTest::newRow("640x480") << QSizeF(640, 480) << 20;
    QTest::newRow("640x360") << QSizeF(640, 360) << 20;
    QTest::newRow("1280x960") << QSizeF(1280, 960) << 20;
    QTest::newRow("1920x1080") << QSizeF(1920, 1080) << 20;
    QTest::newRow("1600x1200") << QSizeF(1600, 1200) << 10;
    QTest::newRow("2048x1536") << QSizeF(2048, 1536) << 10;
    QTest::newRow("2592x1944") << QSizeF(2592, 1944) << 10;
    QTest::newRow("2688x1512") << QSizeF(2688, 1512) << 8;
    QTest::newRow("3840x2160") << QSizeF(3840, 2160) << 8;
    QTest::newRow("1920x1081 is no longer 20") << QSizeF(1920, 1081) << 10;
    QTest::newRow("4000x3000") << QSizeF(4000, 3000) << 24;
}

void tst_ViewControllerCapture::recordingFrameRates()
{
    QFETCH(QSizeF, size);
    QFETCH(int, videoFps);
    QCOMPARE(ViewController::recordingFps(ViewController::kVideoMode, size), videoFps);
    QCOMPARE(ViewController::recordingFps(ViewController::kTimeLapseMode, size), 24);
}

void tst_ViewControllerCapture::saveImageEncodesByExtension()
{
    QTemporaryDir dir;
    const QImage image = testimages::picture(64, 48, 5);
    const auto formatOf = [&](const QString &name) {
        const QString path = dir.filePath(name);
        if (!ViewController::saveImage(image, path))
            return QByteArray("<not saved>");
        QImageReader reader(path);
        const QByteArray format = reader.format();
        if (reader.read().size() != image.size())
            return QByteArray("<wrong size>");
        return format;
    };
    QCOMPARE(formatOf(QStringLiteral("a.jpg")), QByteArray("jpeg"));
    // Exactly "jpg": everything else is PNG.
    QCOMPARE(formatOf(QStringLiteral("b.mp4")), QByteArray("png"));
    QCOMPARE(formatOf(QStringLiteral("c.JPG")), QByteArray("png"));
    QCOMPARE(formatOf(QStringLiteral("d.jpeg")), QByteArray("png"));
    // A PNG keeps every pixel.
    QCOMPARE(
        QImage(dir.filePath(QStringLiteral("b.mp4")), "png").convertToFormat(QImage::Format_RGB32),
        image);
    // The highest quality: every quantisation step of the JPEG is 1.
    QFile jpeg(dir.filePath(QStringLiteral("a.jpg")));
    QVERIFY(jpeg.open(QIODevice::ReadOnly));
    const QList<int> steps = quantisationSteps(jpeg.readAll());
    QVERIFY(steps.size() >= 64);
    QCOMPARE(*std::max_element(steps.begin(), steps.end()), 1);
}

void tst_ViewControllerCapture::failedSaveLeavesNoFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    // An image that cannot be encoded: nothing is left behind, not even a
    // half-written file.
    QVERIFY(!ViewController::saveImage(QImage(), path));
    QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());

    // A photo already there is replaced whole, never truncated by a failure.
    QVERIFY(ViewController::saveImage(testimages::picture(64, 48), path));
    const qint64 size = QFileInfo(path).size();
    QVERIFY(!ViewController::saveImage(QImage(), path));
    QCOMPARE(QFileInfo(path).size(), size);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"photo.jpg"});
}

void tst_ViewControllerCapture::onePressSavesTheNextFrame()
{
    Rig rig;
    const QImage before = testimages::picture(320, 240, 1);
    QImage next = before;
    next.invertPixels();
    rig.c.cameraBufferImage(before);

    rig.press();
    QVERIFY(rig.c.isSnapshot());
    QVERIFY(rig.files(QStringLiteral("*")).isEmpty()); // the press itself writes nothing

    rig.c.cameraBufferImage(next);
    QVERIFY(!rig.c.isSnapshot());
    const QStringList photos = rig.files(QStringLiteral("*"));
    QCOMPARE(photos.size(), 1);
    QVERIFY(photos.first().endsWith(QLatin1String(".jpg")));
    QCOMPARE(photos.first().size(), 23 + 4); // timestamp and extension
    QCOMPARE(rig.notice(), kSaved);

    QImageReader reader(rig.path(photos.first()));
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    const QImage photo = reader.read();
    QCOMPARE(photo.size(), QSize(320, 240));
    // The frame after the press, not the one before it.
    for (const QPoint p : {QPoint(10, 10), QPoint(300, 20), QPoint(160, 200)}) {
        QVERIFY2(qAbs(qGray(photo.pixel(p)) - qGray(next.pixel(p))) < 8,
                 qPrintable(QStringLiteral("pixel at %1,%2").arg(p.x()).arg(p.y())));
        QVERIFY(qAbs(qGray(photo.pixel(p)) - qGray(before.pixel(p))) > 40);
    }

    // One request, one photo.
    rig.frame(320, 240, 3);
    rig.frame(320, 240, 4);
    QCOMPARE(rig.files(QStringLiteral("*")).size(), 1);
}

void tst_ViewControllerCapture::unsavablePhotoUsesUpTheRequest()
{
    Rig rig;
    // A save folder that is not there: the photo cannot be written.
    rig.fakes.settings.setString(platform::kSaveFolderKey, rig.path(QStringLiteral("gone/away")));
    rig.c.getFilePath();
    rig.frame(320, 240);
    rig.press();
    rig.frame(320, 240, 1);
    QVERIFY(!rig.c.isSnapshot());
    QCOMPARE(rig.notice(), QStringLiteral("The photo could not be saved."));
    QVERIFY(!QFileInfo::exists(rig.path(QStringLiteral("gone"))));
    QVERIFY(rig.files(QStringLiteral("*")).isEmpty());
}

void tst_ViewControllerCapture::photoDueAcrossAModeChangeIsStillAJpeg()
{
    Rig rig;
    rig.frame(320, 240);
    rig.press();
    rig.chooseMode(QStringLiteral("Video"));
    rig.frame(320, 240, 1);
    QCOMPARE(rig.files(QStringLiteral("*.mp4")), QStringList());
    const QStringList photos = rig.files(QStringLiteral("*.jpg"));
    QCOMPARE(photos.size(), 1);
    QCOMPARE(QImageReader(rig.path(photos.first())).format(), QByteArray("jpeg"));
    QCOMPARE(rig.files(QStringLiteral("*")).size(), 1);
}

void tst_ViewControllerCapture::duePhotoTakesTheFrameFromTheRecording()
{
    Rig rig;
    rig.frame(320, 240);
    rig.press(); // photo due
    rig.chooseMode(QStringLiteral("Video"));
    rig.press(); // and a recording started before the next frame
    QVERIFY(rig.c.isVideo());
    LogCapture log;
    rig.frame(320, 240, 1);
    QCOMPARE(rig.files(QStringLiteral("*.jpg")).size(), 1);
    QCOMPARE(writer().frame(), 0);
    QCOMPARE(log.count(QStringLiteral("视频写入")), 0);
    rig.frame(320, 240, 2);
    QCOMPARE(writer().frame(), 1);
    QCOMPARE(log.count(QStringLiteral("视频写入")), 1);
    rig.press();
}

void tst_ViewControllerCapture::denoisingCapturesNothing()
{
    Rig rig;
    rig.frame(320, 240);
    rig.chooseMode(QStringLiteral("Denoise"));
    QCOMPARE(rig.c.cameraStyleType(), 3);
    rig.press();
    rig.press();
    for (int i = 1; i < 5; ++i)
        rig.frame(320, 240, i);
    QVERIFY(rig.buttonShows(QStringLiteral("WiFiCamera_Denoising_White")));
    QVERIFY(!rig.c.isSnapshot());
    QVERIFY(!rig.c.isVideo());
    QCOMPARE(rig.c.timer(), nullptr);
    QVERIFY(!writer().isRecording());
    QVERIFY(rig.files(QStringLiteral("*")).isEmpty());
}

void tst_ViewControllerCapture::captureWithoutASaveFolderIsSkipped()
{
    ViewerFakes fakes(ViewerFakes::Store::NoneStored);
    MainWindow window(fakes.services());
    ViewController &c = window.controller();
    c.cameraBufferImage(testimages::picture(320, 240));

    // A photo: the request is used up by the next frame, and nothing is written.
    QTest::mouseClick(window.form().photoBtn, Qt::LeftButton);
    QVERIFY(c.isSnapshot());
    c.cameraBufferImage(testimages::picture(320, 240, 1));
    QVERIFY(!c.isSnapshot());
    QVERIFY(window.form().tipsLab->text().isEmpty());

    // A recording does not start.
    QTest::mouseClick(window.form().modeBtn1, Qt::LeftButton);
    QTest::mouseClick(window.form().photoBtn, Qt::LeftButton);
    QVERIFY(!c.isVideo());
    QCOMPARE(c.timer(), nullptr);
    QVERIFY(!writer().isRecording());
    QVERIFY(window.form().tipsLab->text().isEmpty());

    // Each press asked for a folder, a second later.
    const QString prompt = QStringLiteral("Please select the file save location.");
    QTRY_COMPARE(fakes.alerts.informativeTexts(), (QStringList{prompt, prompt}));
    QVERIFY(QDir(fakes.saveFolder.path()).isEmpty());
}

void tst_ViewControllerCapture::videoRecordingStartsAndStops()
{
    Rig rig;
    LogCapture log;
    rig.frame(320, 240);
    rig.chooseMode(QStringLiteral("Video"));
    rig.press();
    QVERIFY(rig.c.isVideo());
    QCOMPARE(log.count(QStringLiteral("成功")), 1);
    QVERIFY(rig.buttonShows(QStringLiteral("icon_camera_video_Select_White")));
    QVERIFY(rig.c.timer() && rig.c.timer()->isValid());
    QCOMPARE(rig.c.timer()->interval(), std::chrono::milliseconds(1000));
    QCOMPARE(rig.c.timeLapseGetImgTimer(), nullptr);
    QVERIFY(!rig.form.timeLab->isHidden());
    QCOMPARE(rig.form.timeLab->text(), QStringLiteral("00:00"));
    const QStringList files = rig.files(QStringLiteral("*.mp4"));
    QCOMPARE(files.size(), 1);
    QCOMPARE(writer().fps(), 20);
    QCOMPARE(writer().imageSize(), QSizeF(320, 240));

    // Frames handed over one by one; a frame the writer's queue has no room
    // for is dropped, so pace them a little and count what went in.
    for (int i = 1; i <= 30; ++i) {
        rig.frame(320, 240, i);
        QTest::qWait(10);
    }
    const int written = log.count(QStringLiteral("视频写入"));
    QCOMPARE(written, writer().frame());
    QVERIFY2(written >= 20, qPrintable(QString::number(written)));

    rig.press();
    QVERIFY(!rig.c.isVideo());
    QCOMPARE(rig.notice(), kSaved);
    QVERIFY(rig.buttonShows(QStringLiteral("icon_camera_video_Default_White")));
    QCOMPARE(rig.c.timer(), nullptr);
    QVERIFY(rig.form.timeLab->isHidden());
    QCOMPARE(rig.form.timeLab->text(), QStringLiteral("00:00"));
    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("stopRecording1")), 1, 20000);
    QCOMPARE(log.count(QStringLiteral("stopRecording0")), 0);

    const Mp4Contents mp4 = readMp4(rig.path(files.first()), true);
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QCOMPARE(mp4.codecName, QStringLiteral("h264"));
    QCOMPARE(mp4.width, 320);
    QCOMPARE(mp4.height, 240);
    QCOMPARE(int(mp4.pts.size()), written);
    QCOMPARE(mp4.decodedFrames, written);
    QVERIFY(mp4.hasContiguousTimes(20));
    QVERIFY(rig.fakes.alerts.shown().isEmpty());
}

void tst_ViewControllerCapture::clockCountsAndStopsAfterTheHour()
{
    Rig rig;
    rig.frame(320, 240);
    rig.chooseMode(QStringLiteral("Video"));
    rig.press();
    QLabel *clock = rig.form.timeLab;

    rig.c.timer()->fire(); // the clock's own tick
    QCOMPARE(clock->text(), QStringLiteral("00:01"));
    QCOMPARE(rig.c.recordTime(), 1);
    rig.c.setRecordTime(59);
    rig.c.updateProgress();
    QCOMPARE(clock->text(), QStringLiteral("01:00"));
    rig.c.setRecordTime(3598);
    rig.c.updateProgress();
    QCOMPARE(clock->text(), QStringLiteral("59:59"));
    rig.c.updateProgress();
    QCOMPARE(clock->text(), QStringLiteral("60:00"));
    QCOMPARE(rig.c.recordTime(), 3600);
    QVERIFY(rig.c.isVideo());

    LogCapture log;
    rig.c.timer()->fire(); // the tick after the hour
    QVERIFY(!rig.c.isVideo());
    QCOMPARE(rig.c.timer(), nullptr);
    QCOMPARE(rig.c.recordTime(), 0);
    QCOMPARE(rig.notice(), kSaved);
    QVERIFY(clock->isHidden());
    QCOMPARE(clock->text(), QStringLiteral("00:00"));
    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("stopRecording1")), 1, 20000);
}

void tst_ViewControllerCapture::newRecordingStartsTheClockAtZero()
{
    Rig rig;
    rig.frame(320, 240);
    rig.chooseMode(QStringLiteral("Video"));
    rig.press();
    for (int i = 0; i < 5; ++i)
        rig.c.timer()->fire();
    QCOMPARE(rig.form.timeLab->text(), QStringLiteral("00:05"));
    rig.press();
    QTest::qWait(2); // files are named to the millisecond
    rig.press();
    QVERIFY(rig.c.isVideo());
    QCOMPARE(rig.form.timeLab->text(), QStringLiteral("00:00"));
    QCOMPARE(rig.c.recordTime(), 0);
    rig.c.timer()->fire();
    QCOMPARE(rig.form.timeLab->text(), QStringLiteral("00:01"));
    rig.press();
    QCOMPARE(rig.files(QStringLiteral("*.mp4")).size(), 2);
}

void tst_ViewControllerCapture::modeIsKeptWhileRecording()
{
    Rig rig;
    rig.frame(320, 240);
    rig.chooseMode(QStringLiteral("Time-lapse"));
    rig.press();
    QVERIFY(rig.c.isVideo());
    QStringList titles;
    for (QPushButton *button : rig.window.modeButtons())
        titles << button->text();
    for (QPushButton *button : rig.window.modeButtons()) {
        rig.form.tipsLab->clear();
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(rig.notice(), kRecording);
        QCOMPARE(rig.c.cameraStyleType(), 2);
    }
    QStringList after;
    for (QPushButton *button : rig.window.modeButtons())
        after << button->text();
    QCOMPARE(after, titles);
    QVERIFY(rig.buttonShows(QStringLiteral("WiFiCamera_Delay_Select_White")));

    rig.press();
    rig.chooseMode(QStringLiteral("Photo")); // allowed again
    QCOMPARE(rig.c.cameraStyleType(), 0);
}

void tst_ViewControllerCapture::timeLapseTakesOneFramePerTick()
{
    Rig rig;
    LogCapture log;
    rig.frame(320, 240);
    rig.chooseMode(QStringLiteral("Time-lapse"));
    rig.press();
    QVERIFY(rig.c.isVideo());
    QVERIFY(rig.buttonShows(QStringLiteral("WiFiCamera_Delay_Select_White")));
    QCOMPARE(writer().fps(), 24);
    QVERIFY(rig.c.isTimeLapseGetImg()); // the first frame goes in at once
    platform::ScheduledTimer *sampling = rig.c.timeLapseGetImgTimer();
    QVERIFY(sampling && sampling->isValid());
    QCOMPARE(sampling->interval(), std::chrono::milliseconds(625));

    auto writtenAfter = [&](int frames) {
        for (int i = 0; i < frames; ++i) {
            rig.frame(320, 240, i + 1);
            QTest::qWait(20); // room in the writer's queue
        }
        return log.count(QStringLiteral("视频写入"));
    };
    QCOMPARE(writtenAfter(3), 1);
    QVERIFY(!rig.c.isTimeLapseGetImg());
    sampling->fire();
    QCOMPARE(writtenAfter(3), 2);
    // Two ticks before the next frame still make one frame.
    sampling->fire();
    sampling->fire();
    QCOMPARE(writtenAfter(2), 3);
    // A tick with no frame after it writes nothing.
    sampling->fire();
    QCOMPARE(log.count(QStringLiteral("视频写入")), 3);
    QCOMPARE(writer().frame(), 3);

    rig.press();
    QCOMPARE(rig.c.timeLapseGetImgTimer(), nullptr);
    QVERIFY(rig.buttonShows(QStringLiteral("WiFiCamera_Delay_Default_White")));
    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("stopRecording1")), 1, 20000);
    const QStringList files = rig.files(QStringLiteral("*.mp4"));
    QCOMPARE(files.size(), 1);
    const Mp4Contents mp4 = readMp4(rig.path(files.first()));
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QCOMPARE(int(mp4.pts.size()), 3);
    QVERIFY(mp4.hasContiguousTimes(24));
}

void tst_ViewControllerCapture::sizeChangeEndsTheRecording()
{
    Rig rig;
    rig.frame(320, 240);
    rig.chooseMode(QStringLiteral("Video"));
    rig.press();
    for (int i = 1; i <= 3; ++i) {
        rig.frame(320, 240, i);
        QTest::qWait(20);
    }
    QCOMPARE(writer().frame(), 3);
    const int tagBefore = platform::controls::selectedTag(rig.form.resolutionPopBtn);

    LogCapture log;
    rig.frame(640, 360); // the box switched resolution
    QVERIFY(!rig.c.isVideo());
    QCOMPARE(log.count(QStringLiteral("录制分辨率发生改变，已保存录制")), 1);
    QCOMPARE(rig.notice(), kResolutionChanged);
    QCOMPARE(rig.form.previewImgeView->image().size(), QSize(640, 360)); // shown all the same
    // Neither written nor tracked: the size is the recording's until the next frame.
    QCOMPARE(rig.c.photoSize(), QSizeF(320, 240));
    QCOMPARE(platform::controls::selectedTag(rig.form.resolutionPopBtn), tagBefore);
    QVERIFY(log.lines().filter(QStringLiteral(" --- w:")).isEmpty());

    rig.frame(640, 360, 1);
    QCOMPARE(rig.c.photoSize(), QSizeF(640, 360));
    QCOMPARE(platform::controls::selectedTag(rig.form.resolutionPopBtn), 11);

    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("stopRecording1")), 1, 20000);
    const QStringList files = rig.files(QStringLiteral("*.mp4"));
    QCOMPARE(files.size(), 1);
    const Mp4Contents mp4 = readMp4(rig.path(files.first()), true);
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QCOMPARE(QSize(mp4.width, mp4.height), QSize(320, 240));
    QCOMPARE(mp4.decodedFrames, 3);
}

void tst_ViewControllerCapture::streamLossSavesBeforeRefusing()
{
    Rig rig;
    rig.frame(320, 240);
    rig.chooseMode(QStringLiteral("Video"));
    rig.press();
    rig.frame(320, 240, 1);
    LogCapture log;
    rig.c.disconnection();
    // The stop got through before the flag was set: no refusal, a saved file.
    QVERIFY(rig.c.isDisconnect());
    QVERIFY(!rig.c.isVideo());
    QVERIFY(rig.fakes.alerts.shown().isEmpty());
    QCOMPARE(rig.notice(), kSaved);
    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("stopRecording1")), 1, 20000);

    rig.press();
    QCOMPARE(rig.fakes.alerts.informativeTexts(), QStringList{kDisconnected});
    QVERIFY(!rig.c.isVideo());
}

void tst_ViewControllerCapture::recordingBeforeTheFirstFrameIsRefused_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("image");
    QTest::newRow("video") << "Video"
                           << "icon_camera_video_Default_White";
    QTest::newRow("time-lapse") << "Time-lapse"
                                << "WiFiCamera_Delay_Default_White";
}

void tst_ViewControllerCapture::recordingBeforeTheFirstFrameIsRefused()
{
    QFETCH(QString, mode);
    QFETCH(QString, image);
    Rig rig;
    LogCapture log;
    rig.chooseMode(mode);
    rig.press();
    QCOMPARE(rig.notice(), kNoPictureYet);
    QVERIFY(!rig.c.isVideo());
    QCOMPARE(rig.c.timer(), nullptr);
    QCOMPARE(rig.c.timeLapseGetImgTimer(), nullptr);
    QVERIFY(rig.form.timeLab->isHidden());
    QVERIFY(rig.buttonShows(image));
    QVERIFY(!writer().isRecording());
    QCOMPARE(log.count(QStringLiteral("成功")) + log.count(QStringLiteral("失败")), 0);

    // The first frame is only a frame; the next press records.
    rig.frame(320, 240);
    QVERIFY(rig.files(QStringLiteral("*")).isEmpty());
    rig.press();
    QVERIFY(rig.c.isVideo());
    rig.press();
}

void tst_ViewControllerCapture::writerThatCannotStartLeavesIdle_data()
{
    recordingBeforeTheFirstFrameIsRefused_data();
}

void tst_ViewControllerCapture::writerThatCannotStartLeavesIdle()
{
    QFETCH(QString, mode);
    QFETCH(QString, image);
    Rig rig;
    rig.fakes.settings.setString(platform::kSaveFolderKey, rig.path(QStringLiteral("missing")));
    rig.c.getFilePath();
    rig.frame(320, 240);
    rig.chooseMode(mode);
    LogCapture log;
    rig.press();
    QCOMPARE(log.count(QStringLiteral("失败")), 1);
    QCOMPARE(rig.notice(), kCouldNotStart);
    QVERIFY(!rig.c.isVideo());
    QCOMPARE(rig.c.timer(), nullptr);
    QCOMPARE(rig.c.timeLapseGetImgTimer(), nullptr);
    QVERIFY(rig.form.timeLab->isHidden());
    QVERIFY(rig.buttonShows(image));
    // Frames go nowhere, and the next press tries again rather than "stopping".
    rig.frame(320, 240, 1);
    QCOMPARE(log.count(QStringLiteral("视频写入")) + log.count(QStringLiteral("视频写入失败")), 0);
    rig.press();
    QCOMPARE(log.count(QStringLiteral("失败")), 2);
    QVERIFY(rig.notice() != kSaved);
    QVERIFY(!rig.c.isVideo());
}

void tst_ViewControllerCapture::fileThatFailsEndsTheRecording()
{
    Rig rig;
    rig.frame(640, 480);
    rig.chooseMode(QStringLiteral("Video"));

    // A disk that fills up during recording A, played by a file size limit
    // on this process; it is lifted before recording B starts.
    constexpr rlim_t kLimitBytes = 120 * 1024;
    rlimit saved = {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = kLimitBytes;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    auto restore = qScopeGuard([&] {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
    });

    LogCapture log;
    rig.press();
    QVERIFY(rig.c.isVideo());
    const QString pathA = writer().writePath();
    // Frames until the recording ends by itself: the first frame after the
    // writer failed stops it.
    QElapsedTimer sinceStart;
    sinceStart.start();
    int seed = 0;
    while (rig.c.isVideo() && seed < 2000 && sinceStart.elapsed() < 20000) {
        rig.frame(640, 480, ++seed);
        QTest::qWait(2);
    }
    QVERIFY2(!rig.c.isVideo(), "the writer never failed");
    QCOMPARE(rig.notice(), QStringLiteral("The recording stopped: its file could not be written."));
    QVERIFY(rig.form.timeLab->isHidden());
    restore.dismiss();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QTest::qWait(1); // a new millisecond, a new file name
    rig.press();     // start B at once
    QVERIFY(rig.c.isVideo());
    const QString pathB = writer().writePath();
    QVERIFY(pathB != pathA);

    // A's failure is reported with A's name, and B runs on untouched.
    QTRY_COMPARE_WITH_TIMEOUT(rig.fakes.alerts.shown().size(), 1, 20000);
    QCOMPARE(log.count(QStringLiteral("stopRecording0")), 1);
    const QString report = rig.fakes.alerts.informativeTexts().first();
    QVERIFY2(report.startsWith(QLatin1String("The recording could not be saved completely")) &&
                 report.contains(pathA),
             qPrintable(report));
    QCOMPARE(rig.fakes.alerts.shown().first().content.messageText, QStringLiteral("Tips"));
    QVERIFY(rig.c.isVideo());
    QVERIFY(rig.c.timer() && rig.c.timer()->isValid());
    QVERIFY(writer().isRecording());
    QCOMPARE(writer().writePath(), pathB);
    QVERIFY(rig.buttonShows(QStringLiteral("icon_camera_video_Select_White")));

    for (int i = 0; i < 5; ++i) {
        rig.frame(640, 480, i);
        QTest::qWait(20);
    }
    rig.press();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("stopRecording1")), 1, 20000);
    QCOMPARE(rig.fakes.alerts.shown().size(), 1);
    const Mp4Contents mp4 = readMp4(pathB);
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QCOMPARE(int(mp4.pts.size()), 5);
}

QTEST_MAIN(tst_ViewControllerCapture)
#include "tst_ViewControllerCapture.moc"
