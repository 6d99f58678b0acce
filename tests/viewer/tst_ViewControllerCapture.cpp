// The capture modes, the capture button and the save folder, through the real
// window: frames are handed in as the stream client hands them over, clocks
// are fired by hand, and recordings are read back with libavformat.

#include "capture/Mp4Reader.h"
#include "platform/FileSync.h"
#include "support/LogCapture.h"
#include "support/LoopbackServer.h"
#include "support/WindowRig.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScopeGuard>

namespace
{
const QString kSaved = QStringLiteral("Saved successfully");
const QString kDisconnected = QStringLiteral("Disconnected. Please reconnect.");
const QString kPrompt = QStringLiteral("Please select the file save location.");
const QString kPhotoFailed = QStringLiteral("The photo could not be saved.");
} // namespace

namespace
{
// Runs the steps of a table row through the window, each as a user or the
// stream would do it.
void runSteps(WindowRig &rig, LoopbackServer &box, const QString &steps)
{
    ImageWritingVideoTool &writer = ImageWritingVideoTool::shareInstance();
    QSize size(320, 240);
    int seed = 0;
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        const QString arg = step.section(QLatin1Char(':'), 1);
        if (step.startsWith(QLatin1String("frame"))) {
            if (!arg.isEmpty())
                size = QSize(arg.section(QLatin1Char('x'), 0, 0).toInt(),
                             arg.section(QLatin1Char('x'), 1).toInt());
            rig.frame(size, ++seed);
            QTest::qWait(20); // room in the writer's queue
        } else if (step == QLatin1String("press")) {
            rig.press();
        } else if (step.startsWith(QLatin1String("mode:"))) {
            rig.chooseMode(arg);
        } else if (step == QLatin1String("tick") || step == QLatin1String("sample")) {
            auto *timer =
                step == QLatin1String("tick") ? rig.c().timer() : rig.c().timeLapseGetImgTimer();
            QVERIFY(timer);
            timer->fire();
        } else if (step.startsWith(QLatin1String("clock:"))) {
            rig.c().setRecordTime(arg.toInt());
        } else if (step == QLatin1String("rm")) {
            QVERIFY(QFile::remove(rig.path(rig.files(QStringLiteral("*.mp4")).value(0))));
        } else if (step == QLatin1String("blocked")) { // a plain file where the folder was
            QVERIFY(QDir(rig.folder()).removeRecursively());
            QFile blocker(rig.folder());
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        } else if (step == QLatin1String("lose")) {
            box.closeAll();
            QTRY_VERIFY(rig.c().isDisconnect());
        } else if (step.startsWith(QLatin1String("free:"))) {
            rig.fakes.volumes.freeBytes = arg.toLongLong() * 1024 * 1024;
        } else if (step.startsWith(QLatin1String("left:"))) {
            // Free space for arg seconds more of the file's mean growth, as
            // the next tick of the clock will measure it.
            const qint64 size = QFileInfo(writer.writePath()).size();
            rig.fakes.volumes.freeBytes =
                ViewController::kDiskMarginBytes + size * arg.toInt() / (rig.c().recordTime() + 1);
        } else if (step == QLatin1String("settle")) { // every frame written is in the file
            QTRY_COMPARE_WITH_TIMEOUT(int(readMp4(writer.writePath()).pts.size()), writer.frame(),
                                      5000);
        } else if (step.startsWith(QLatin1String("fs:"))) {
            rig.fakes.volumes.type = arg;
        } else if (step == QLatin1String("failed")) {
            QTRY_VERIFY(writer.hasFailed());
        } else if (step == QLatin1String("full")) {
            platform::filesync::setHookForTests([](int) {
                errno = ENOSPC;
                return -1;
            });
        } else if (step != QLatin1String("nofolder")) {
            QFAIL(qPrintable(step));
        }
    }
}
} // namespace

class tst_ViewControllerCapture : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void capture_data();
    void capture();
    void saveLocation_data();
    void saveLocation();
    void aidsLeavePhotosAlone();
};

void tst_ViewControllerCapture::capture_data()
{
    QTest::addColumn<QString>("steps"); // "nofolder" first: none is stored
    QTest::addColumn<bool>("recording");
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QStringList>("files"); // the names' patterns, sorted
    QTest::addColumn<int>("frames");        // in the one recording, once finished; -1: unchecked
    QTest::addColumn<int>("fps");
    QTest::addColumn<QStringList>("alerts"); // "$rec": the recording's path
    // The clock's text once the steps are done, a pattern: the real clock
    // may tick while a file settles.
    QTest::addColumn<QString>("clock");
    const QString photo = QStringLiteral(R"(\d{4}-\d\d-\d\d-\d\d:\d\d:\d\d\.\d{3}\.jpg)");
    const QString video = QString(photo).replace(QLatin1String("jpg"), QLatin1String("mp4"));
    const auto onCard = [](QString name) {
        return name.replace(QLatin1Char(':'), QLatin1Char('-'));
    };
    const QString lowSpace =
        QStringLiteral("Not enough free space in the save folder: at least 256 MB must stay free.");
    const auto row = [](const char *name, const char *steps, bool recording, const QString &notice,
                        const QStringList &files, int frames = -1, int fps = 0,
                        const QStringList &alerts = {}, const char *clock = R"(\d\d:\d\d)") {
        QTest::newRow(name) << QString(steps) << recording << notice << files << frames << fps
                            << alerts << QString(clock);
    };
    row("one press saves the next frame only", "frame press frame frame frame", false, kSaved,
        {photo});
    row("video records the frames after the press",
        "frame mode:Video press frame frame frame press", false, kSaved, {video}, 3, 20);
    row("1920 x 1080 records at 20 fps", "frame:1920x1080 mode:Video press frame frame press",
        false, kSaved, {video}, 2, 20);
    row("time-lapse takes one frame per sample",
        "frame mode:Time-lapse press frame frame sample frame frame sample sample frame press",
        false, kSaved, {video}, 3, 24);
    row("the hour's last second records, the tick after it stops",
        "frame mode:Video press clock:3599 tick frame tick", false, kSaved, {video}, 1, 20);
    row("a new size ends the recording", "frame mode:Video press frame frame frame:640x360", false,
        "The resolution has changed and the video has been saved.", {video}, 2, 20);
    row("a lost stream ends and saves the recording", "frame mode:Video press frame lose press",
        false, kSaved, {video}, 1, 20, {kDisconnected});
    row("a file removed while recording is restored", "frame mode:Video press frame frame rm press",
        false, kSaved, {video}, 2, 20,
        {"The save folder was removed during the recording. What was recorded until then was "
         "saved again at:\n$rec"});
    row("no mode change while recording", "frame mode:Time-lapse press mode:Video", true,
        "Recording...", {video});
    row("a photo that cannot be saved says so, and logs why", "frame blocked press frame", false,
        kPhotoFailed, {});
    row("a recording that cannot start says so", "frame blocked mode:Video press", false,
        "The recording could not start.", {});
    row("no recording before the first frame", "mode:Video press", false,
        "No picture to record yet.", {});
    row("no folder: nothing saved, each press asks for one",
        "nofolder frame press frame mode:Video press", false, "", {}, -1, 0,
        {kPrompt, kPrompt, kPrompt});
    // The disk guard
    row("a photo below the margin is refused", "free:255 frame press frame", false, lowSpace, {});
    row("a photo at the margin is taken", "free:256 frame press frame", false, kSaved, {photo});
    row("a recording below the margin is refused", "free:255 frame mode:Video press", false,
        lowSpace, {});
    row("five minutes left: only the clock",
        "frame mode:Video press frame frame settle left:300 tick", true, "", {video});
    row("under five minutes the time left shows",
        "frame mode:Video press frame frame settle left:299 tick", true, "", {video}, -1, 0, {},
        R"(\d\d:\d\d \x{b7} 4:59 left)");
    row("room for a little more: recording on",
        "frame mode:Video press frame frame settle left:6 tick", true, "", {video}, -1, 0, {},
        R"(\d\d:\d\d \x{b7} 0:06 left)");
    row("the recording ends before the margin is reached",
        "frame mode:Video press frame frame settle left:5 tick", false,
        "The disk is almost full: the recording was stopped and saved.", {video});
    row("a memory card gets names without colons",
        "fs:vfat frame press frame mode:Video press frame press", false, kSaved,
        {onCard(photo), onCard(video)});
    row("an NTFS volume mounted through FUSE too", "fs:fuseblk frame press frame", false, kSaved,
        {onCard(photo)});
    row("a full disk has its own message", "frame mode:Video full press failed frame", false,
        "The recording stopped: its file could not be written.", {}, -1, 0,
        {"The disk is full, and the recording could not be kept:\n$rec"});
}

void tst_ViewControllerCapture::capture()
{
    QFETCH(QString, steps);
    QFETCH(bool, recording);
    QFETCH(QString, notice);
    QFETCH(QStringList, files);
    QFETCH(int, frames);
    QFETCH(int, fps);
    QFETCH(QStringList, alerts);
    QFETCH(QString, clock);
    const auto unhook = qScopeGuard([] { platform::filesync::setHookForTests({}); });
    LoopbackServer box([](QTcpSocket *, const QByteArray &) {}); // a silent stream
    WindowRig rig(steps.startsWith(QLatin1String("nofolder"))
                      ? ViewerFakes::Store::NoneStored
                      : ViewerFakes::Store::SaveFolderStored);
    QVERIFY(rig.open(box.baseUrl()));
    QTRY_COMPARE(box.requestLines().size(), 1);
    LogCapture log;
    runSteps(rig, box, steps);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(rig.c().isVideo(), recording);
    QCOMPARE(rig.form().timeLab->isVisible(), recording);
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(clock))
                 .match(rig.form().timeLab->text())
                 .hasMatch(),
             qPrintable(rig.form().timeLab->text()));
    QCOMPARE(rig.notice(), notice);
    // A photo not saved is logged with the reason the file layer gives.
    const QStringList why = log.lines().filter(QStringLiteral("orbilens.viewer: photo "));
    QCOMPARE(why.size(), notice == kPhotoFailed ? 1 : 0);
    for (const QString &line : why) {
        QSaveFile probe(line.section(QLatin1Char(' '), 2, 2));
        QVERIFY(!probe.open(QIODevice::WriteOnly));
        QCOMPARE(line, QStringLiteral("orbilens.viewer: photo %1 not saved: %2")
                           .arg(probe.fileName(), probe.errorString()));
    }
    // What finishing a file has to say comes through the main thread's queue,
    // never from the encoder's thread: nothing arrives while this one waits.
    ImageWritingVideoTool &writer = ImageWritingVideoTool::shareInstance();
    const qsizetype alertsBefore = rig.fakes.alerts.informativeTexts.size();
    QVERIFY(writer.finishAllAndWait(std::chrono::seconds(20)));
    QCOMPARE(rig.fakes.alerts.informativeTexts.size(), alertsBefore);
    const QStringList there = rig.files(QStringLiteral("*"));
    QCOMPARE(there.size(), files.size());
    for (qsizetype i = 0; i < files.size(); ++i)
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(files[i]))
                     .match(there[i])
                     .hasMatch(),
                 qPrintable(there[i]));
    alerts.replaceInStrings(QStringLiteral("$rec"), writer.writePath());
    QTRY_COMPARE_WITH_TIMEOUT(rig.fakes.alerts.informativeTexts, alerts, 5000);
    if (frames < 0)
        return;
    const Mp4Contents mp4 = readMp4(writer.writePath());
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QCOMPARE(int(mp4.pts.size()), frames);
    QVERIFY(mp4.hasContiguousTimes(fps));
}

void tst_ViewControllerCapture::saveLocation_data()
{
    QTest::addColumn<QString>("stored"); // "folder", "" (an empty text) or "none"
    QTest::addColumn<QString>("answer"); // "picked", "blocked" (a file is there) or "cancel"
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("inUse"); // "stored", "picked" or "" (none)
    QTest::addColumn<QString>("remembered");
    QTest::addColumn<int>("choosers");
    QTest::addColumn<bool>("browsed");
    const auto row = [](const char *name, const char *stored, const char *answer,
                        const char *gesture, const char *inUse, const char *remembered,
                        int choosers, bool browsed) {
        QTest::newRow(name) << QString(stored) << QString(answer) << QString(gesture)
                            << QString(inUse) << QString(remembered) << choosers << browsed;
    };
    row("stored: in use, the open button shows it", "folder", "cancel", "open", "stored", "stored",
        0, true);
    row("stored empty text: the prompt's OK asks", "", "picked", "prompt", "picked", "picked", 1,
        false);
    row("none: the open button asks", "none", "picked", "open", "picked", "picked", 1, false);
    row("cancel keeps the folder", "folder", "cancel", "choose", "stored", "stored", 1, false);
    row("a folder that cannot be made is used, not remembered", "folder", "blocked", "choose",
        "picked", "stored", 1, false);
    row("one chooser at a time", "folder", "picked", "choose-twice", "picked", "picked", 1, false);
}

void tst_ViewControllerCapture::saveLocation()
{
    QFETCH(QString, stored);
    QFETCH(QString, answer);
    QFETCH(QString, gesture);
    QFETCH(QString, inUse);
    QFETCH(QString, remembered);
    QFETCH(int, choosers);
    QFETCH(bool, browsed);
    LoopbackServer box([](QTcpSocket *, const QByteArray &) {});
    WindowRig rig(stored == QLatin1String("folder") ? ViewerFakes::Store::SaveFolderStored
                                                    : ViewerFakes::Store::NoneStored);
    if (stored.isEmpty())
        rig.fakes.settings.setString(platform::kSaveFolderKey, QStringLiteral(""));
    QTemporaryDir picked;
    const QString made = picked.filePath(QCoreApplication::applicationName());
    if (answer == QLatin1String("blocked"))
        QVERIFY(QFile(made).open(QIODevice::WriteOnly));
    if (answer == QLatin1String("cancel"))
        rig.fakes.folderChooser.answers.enqueue(std::nullopt);
    else
        rig.fakes.folderChooser.answers.enqueue(picked.path());
    QVERIFY(rig.open(box.baseUrl()));

    if (gesture == QLatin1String("prompt")) {
        QTRY_COMPARE_WITH_TIMEOUT(rig.fakes.alerts.informativeTexts, QStringList{kPrompt}, 5000);
        QVERIFY(rig.fakes.folderChooser.messages.isEmpty()); // it waits for "OK"
        QVERIFY(rig.fakes.alerts.answer());
    } else if (gesture == QLatin1String("open")) {
        QTest::mouseClick(rig.form().openFileBtn, Qt::LeftButton);
    } else {
        int opened = 0; // the user clicks again while the chooser is open
        if (gesture == QLatin1String("choose-twice"))
            rig.fakes.folderChooser.whileOpen = [&] {
                if (opened++ == 0)
                    QTest::mouseClick(rig.form().chooseFolderBtn, Qt::LeftButton);
            };
        QTest::mouseClick(rig.form().chooseFolderBtn, Qt::LeftButton);
    }
    const auto folder = [&](const QString &which) {
        return which == QLatin1String("stored")   ? rig.folder()
               : which == QLatin1String("picked") ? made
                                                  : QString();
    };
    QCOMPARE(rig.c().filePathStr(), folder(inUse));
    QCOMPARE(rig.form().openFileBtn->toolTip(), folder(inUse));
    QCOMPARE(rig.fakes.settings.stringForKey(platform::kSaveFolderKey).value_or(QString()),
             folder(remembered));
    QCOMPARE(rig.fakes.folderChooser.messages.size(), choosers);
    const QStringList browsing{"open " + folder(inUse), "show " + folder(inUse)};
    QCOMPARE(rig.fakes.fileBrowser.requests, browsed ? browsing : QStringList());
    if (answer == QLatin1String("picked"))
        QVERIFY(QFileInfo(made).isDir());
}

void tst_ViewControllerCapture::aidsLeavePhotosAlone()
{
    // The same frame taken with no aid and with every aid on: the same photo.
    LoopbackServer box([](QTcpSocket *, const QByteArray &) {});
    WindowRig rig;
    QVERIFY(rig.open(box.baseUrl()));
    const QList<QPushButton *> aids{rig.form().flipHorizontalBtn, rig.form().flipVerticalBtn,
                                    rig.form().rotateBtn,         rig.form().reticleBtn,
                                    rig.form().clippingBtn,       rig.form().nightPictureBtn,
                                    rig.form().nightModeBtn};
    QList<QImage> photos;
    for (const bool on : {false, true}) {
        for (QPushButton *aid : aids)
            if (aid->isChecked() != on)
                QTest::mouseClick(aid, Qt::LeftButton);
        rig.press();
        rig.frame({320, 240}, 5);
        const QStringList files = rig.files(QStringLiteral("*.jpg"));
        QCOMPARE(files.size(), photos.size() + 1);
        photos << QImage(rig.path(files.last()));
        QTest::qWait(5); // the next file's name is a millisecond later
    }
    QVERIFY(!photos.first().isNull());
    QCOMPARE(photos.last(), photos.first());
}

QTEST_MAIN(tst_ViewControllerCapture)
#include "tst_ViewControllerCapture.moc"
