#include "capture/ImageBuffer.h"
#include "capture/ImageWritingVideoTool.h"
#include "capture/Mp4Reader.h"
#include "capture/RecordingHelpers.h"
#include "support/TestImages.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <thread>

using namespace std::chrono_literals;
using namespace recording;

namespace
{

// The child process of the kill test: records frames at a steady pace and
// reports every accepted one on stdout until it is killed.
int recordUntilKilled(const QString &path, int fps, int intervalMs)
{
    ImageWritingVideoTool &tool = ImageWritingVideoTool::shareInstance();
    bool started = false;
    tool.writePath(path, QSizeF(320, 240), fps, [&](bool ok) { started = ok; });
    if (!started)
        return 2;
    for (int seed = 0; seed < 60000 / intervalMs; ++seed) { // gives up after a minute
        tool.writeImage(testimages::picture(320, 240, seed), [](bool ok) {
            if (ok)
                std::fprintf(stdout, "accepted\n");
        });
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
    }
    return 3;
}

} // namespace

class tst_ImageWritingVideoTool : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void hundredFramesPlayFiveSecondsAtTwenty();
    void oddSizesLoseOneColumnAndRow();
    void refusedFrameTakesNoIndex();
    void appendWaitIsBoundedAndQuiet();
    void recordingsBackToBack();
    void secondRecordingWhileFirstFinishes();
    void startingAgainFinishesTheRunningRecording();
    void existingFileIsNeverTouched();
    void unencodableSizeCreatesNoFile();
    void finishWithoutRecordingCallsNothing();
    void finishAllAndWaitCompletesFiles();
    void exitThatCannotWaitCutsTheRecordingShort();
    void failedWriteReportsEmptyPathAndKeepsWhatWasWritten();
    void killedRecordingKeepsAllButTheLastSeconds_data();
    void killedRecordingKeepsAllButTheLastSeconds();

private:
    QTemporaryDir m_dir;
    QString file(const QString &name) const { return m_dir.filePath(name); }
};

void tst_ImageWritingVideoTool::hundredFramesPlayFiveSecondsAtTwenty()
{
    ImageWritingVideoTool tool;
    const QString path = file(QStringLiteral("hundred.mp4"));
    QList<bool> started;
    tool.writePath(path, QSizeF(640, 480), 20, [&](bool ok) { started.append(ok); });
    QCOMPARE(started, QList<bool>{true});
    QCOMPARE(tool.fps(), 20);
    QCOMPARE(tool.writePath(), path);

    const QList<bool> answers = writeFrames(tool, 100, QSize(640, 480));
    QCOMPARE(answers, QList<bool>(100, true));
    QCOMPARE(tool.presentTime(), (MediaTime{99, 20}));

    Completions done;
    tool.writeCompleteBlock(done.callback(0));
    QCOMPARE(tool.frame(), 0);
    QVERIFY(done.waitFor(1));
    QCOMPARE(done.path(0), path);

    const Mp4Contents mp4 = readMp4(path, true);
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QVERIFY(mp4.formatName.contains(QLatin1String("mp4")));
    QCOMPARE(mp4.streamCount, 1);
    QCOMPARE(mp4.codecName, QStringLiteral("h264"));
    QCOMPARE(mp4.pixelFormat, QStringLiteral("yuv420p"));
    QCOMPARE(mp4.width, 640);
    QCOMPARE(mp4.height, 480);
    QCOMPARE(int(mp4.pts.size()), 100);
    QVERIFY(mp4.hasContiguousTimes(20));
    QCOMPARE(mp4.formatDurationSeconds, 5.0);
    QVERIFY(mp4.keyFrames.front());
    QCOMPARE(mp4.decodedFrames, 100);
    QCOMPARE(mp4.decodeErrors, 0);
    // Each frame of the file is the frame offered at its index (consecutive
    // test frames differ by about two levels of mean luma).
    for (int i = 0; i < 100; ++i) {
        const double expected = meanLuma(testimages::picture(640, 480, i));
        QVERIFY2(qAbs(mp4.meanLuma[size_t(i)] - expected) < 0.8,
                 qPrintable(QStringLiteral("frame %1: luma %2, expected %3")
                                .arg(i)
                                .arg(mp4.meanLuma[size_t(i)])
                                .arg(expected)));
    }

    const ProbeReport probe = ffprobe(path);
    QCOMPARE(probe.exitCode, 0);
    QVERIFY2(probe.errors.isEmpty(), qPrintable(probe.errors));
    QCOMPARE(probe.codecName, QStringLiteral("h264"));
    QCOMPARE(probe.readFrames, 100);
    QCOMPARE(probe.durationSeconds, 5.0);
}

void tst_ImageWritingVideoTool::oddSizesLoseOneColumnAndRow()
{
    ImageWritingVideoTool tool;
    const QString path = file(QStringLiteral("odd.mp4"));
    bool started = false;
    tool.writePath(path, QSizeF(321.7, 241.2), 10, [&](bool ok) { started = ok; });
    QVERIFY(started);
    writeFrames(tool, 12, QSize(321, 241));
    Completions done;
    tool.writeCompleteBlock(done.callback(0));
    QVERIFY(done.waitFor(1));
    QCOMPARE(done.path(0), path);
    const Mp4Contents mp4 = readMp4(path, true);
    QCOMPARE(mp4.width, 320);
    QCOMPARE(mp4.height, 240);
    QCOMPARE(mp4.decodedFrames, 12);
    QVERIFY(mp4.hasContiguousTimes(10));
}

void tst_ImageWritingVideoTool::refusedFrameTakesNoIndex()
{
    Gate gate;
    ImageWritingVideoTool::Options options;
    options.queueCapacity = 2;
    options.workerFrameHook = [&](MediaTime) { gate.pass(); };
    ImageWritingVideoTool tool(options);
    const QString path = file(QStringLiteral("refused.mp4"));
    tool.writePath(path, QSizeF(320, 240), 20, {});

    gate.close();
    int callbacks = 0;
    const auto offer = [&](int seed) {
        tool.writeImage(testimages::picture(320, 240, seed), [&](bool) { ++callbacks; });
    };
    offer(0);
    QVERIFY(gate.waitForWaiting(1)); // the worker holds frame 0
    offer(1);
    offer(2); // the queue is full now
    QCOMPARE(tool.frame(), 3);
    QCOMPARE(callbacks, 3);

    offer(3);
    QCOMPARE(tool.frame(), 3);
    QCOMPARE(callbacks, 3); // no answer for a frame dropped before the append
    QCOMPARE(tool.droppedFrames(), 1);
    QCOMPARE(tool.presentTime(), (MediaTime{2, 20}));

    gate.open();
    writeFrames(tool, 2, QSize(320, 240), 4);
    QCOMPARE(tool.presentTime(), (MediaTime{4, 20})); // the refused frame's time went to the next
    Completions done;
    tool.writeCompleteBlock(done.callback(0));
    QVERIFY(done.waitFor(1));
    const Mp4Contents mp4 = readMp4(path);
    QCOMPARE(int(mp4.pts.size()), 5);
    QVERIFY(mp4.hasContiguousTimes(20));
}

void tst_ImageWritingVideoTool::appendWaitIsBoundedAndQuiet()
{
    // An input whose worker is held, with a full queue.
    Gate gate;
    gate.close();
    const QString path = file(QStringLiteral("wait.mp4"));
    VideoWriterInput::Config config;
    config.path = path;
    config.fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    config.width = 64;
    config.height = 64;
    config.fps = 20;
    config.queueCapacity = 1;
    config.frameHook = [&](MediaTime) { gate.pass(); };
    QVERIFY(config.fd >= 0);
    VideoWriterInput input(std::move(config));
    const QImage image = testimages::picture(64, 64);
    ImageWritingVideoTool tool;
    QVERIFY(tool.appendToAdapter(input, pixelBufferRefWithSize(image, QSizeF(64, 64)), {0, 20}));
    QVERIFY(gate.waitForWaiting(1));
    QVERIFY(tool.appendToAdapter(input, pixelBufferRefWithSize(image, QSizeF(64, 64)), {1, 20}));
    QVERIFY(!input.isReadyForMoreMediaData());

    static int waitLines = 0;
    waitLines = 0;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) {
            if (message == QStringLiteral("等待"))
                ++waitLines;
        });
    int accepted = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < 20; ++i)
        accepted +=
            tool.appendToAdapter(input, pixelBufferRefWithSize(image, QSizeF(64, 64)), {2, 20});
    const qint64 elapsedMs = elapsed.elapsed();
    qInstallMessageHandler(previous);
    // Every call gave up (nothing drained the queue), and the log got one
    // line a second at most for the twenty waits, not one per try.
    QCOMPARE(accepted, 0);
    QVERIFY(waitLines >= 1);
    QVERIFY2(waitLines <= 1 + elapsedMs / 1000,
             qPrintable(QStringLiteral("%1 lines in %2 ms").arg(waitLines).arg(elapsedMs)));

    gate.open();
    bool completed = false;
    input.markAsFinished([&](bool ok) { completed = ok; });
    QVERIFY(input.waitUntilDone(VideoWriterInput::Clock::now() + 30s));
    QVERIFY(completed);
    QCOMPARE(int(readMp4(path).pts.size()), 2);
}

void tst_ImageWritingVideoTool::recordingsBackToBack()
{
    ImageWritingVideoTool tool;
    Completions done;
    const QString first = file(QStringLiteral("first.mp4"));
    const QString second = file(QStringLiteral("second.mp4"));

    tool.writePath(first, QSizeF(320, 240), 20, {});
    writeFrames(tool, 30, QSize(320, 240));
    tool.writeCompleteBlock(done.callback(1));
    QVERIFY(done.waitFor(1));

    tool.writePath(second, QSizeF(640, 360), 10, {});
    QCOMPARE(tool.frame(), 0);
    writeFrames(tool, 17, QSize(640, 360));
    tool.writeCompleteBlock(done.callback(2));
    QVERIFY(done.waitFor(2));

    QCOMPARE(done.path(1), first);
    QCOMPARE(done.path(2), second);
    const Mp4Contents a = readMp4(first, true);
    const Mp4Contents b = readMp4(second, true);
    QCOMPARE(a.decodedFrames, 30);
    QCOMPARE(a.width, 320);
    QVERIFY(a.hasContiguousTimes(20));
    QCOMPARE(b.decodedFrames, 17);
    QCOMPARE(b.width, 640);
    QVERIFY(b.hasContiguousTimes(10));
    QCOMPARE(tool.finishingCount(), 0);
}

void tst_ImageWritingVideoTool::secondRecordingWhileFirstFinishes()
{
    Gate gate;
    ImageWritingVideoTool::Options options;
    options.queueCapacity = 8;
    options.workerFrameHook = [&](MediaTime) { gate.pass(); };
    ImageWritingVideoTool tool(options);
    Completions done;
    const QString first = file(QStringLiteral("overlap-first.mp4"));
    const QString second = file(QStringLiteral("overlap-second.mp4"));

    gate.close();
    tool.writePath(first, QSizeF(320, 240), 20, {});
    writeFrames(tool, 6, QSize(320, 240));
    tool.writeCompleteBlock(done.callback(1));
    QVERIFY(gate.waitForWaiting(1)); // the first recording cannot finish yet

    tool.writePath(second, QSizeF(480, 272), 20, {});
    writeFrames(tool, 5, QSize(480, 272), 100);
    QCOMPARE(tool.frame(), 5);
    QCOMPARE(tool.finishingCount(), 1);
    QCOMPARE(done.calls(), 0);

    // Let the first one finish; its completion must leave the second alone.
    gate.open();
    QVERIFY(done.waitFor(1));
    QCOMPARE(done.path(1), first);
    QCOMPARE(tool.frame(), 5);
    QVERIFY(tool.isRecording());
    writeFrames(tool, 4, QSize(480, 272), 105);
    QCOMPARE(tool.presentTime(), (MediaTime{8, 20}));
    tool.writeCompleteBlock(done.callback(2));
    QVERIFY(done.waitFor(2));
    QCOMPARE(done.path(2), second);

    const Mp4Contents a = readMp4(first, true);
    const Mp4Contents b = readMp4(second, true);
    QCOMPARE(a.decodedFrames, 6);
    QCOMPARE(a.width, 320);
    QVERIFY(a.hasContiguousTimes(20));
    QCOMPARE(b.decodedFrames, 9);
    QCOMPARE(b.width, 480);
    QVERIFY(b.hasContiguousTimes(20));
}

void tst_ImageWritingVideoTool::startingAgainFinishesTheRunningRecording()
{
    ImageWritingVideoTool tool;
    const QString first = file(QStringLiteral("replaced.mp4"));
    const QString second = file(QStringLiteral("replacing.mp4"));
    tool.writePath(first, QSizeF(320, 240), 20, {});
    writeFrames(tool, 7, QSize(320, 240));
    tool.writePath(second, QSizeF(320, 240), 20, {});
    QCOMPARE(tool.frame(), 0);
    writeFrames(tool, 3, QSize(320, 240));
    QVERIFY(tool.finishAllAndWait(30s));
    QCOMPARE(readMp4(first, true).decodedFrames, 7);
    QCOMPARE(readMp4(second, true).decodedFrames, 3);
}

void tst_ImageWritingVideoTool::existingFileIsNeverTouched()
{
    const QString path = file(QStringLiteral("existing.mp4"));
    {
        QFile existing(path);
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("an earlier capture");
    }
    ImageWritingVideoTool tool;
    QList<bool> started;
    tool.writePath(path, QSizeF(320, 240), 20, [&](bool ok) { started.append(ok); });
    QCOMPARE(started, QList<bool>{false});
    QVERIFY(!tool.isRecording());

    int frameCallbacks = 0;
    tool.writeImage(testimages::picture(320, 240), [&](bool) { ++frameCallbacks; });
    QCOMPARE(frameCallbacks, 0);
    QCOMPARE(tool.frame(), 0);
    int finishCallbacks = 0;
    tool.writeCompleteBlock([&](const QString &) { ++finishCallbacks; });
    QCOMPARE(tool.finishingCount(), 0);
    QVERIFY(tool.finishAllAndWait(1s));
    QCOMPARE(finishCallbacks, 0);

    QFile existing(path);
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("an earlier capture"));
}

void tst_ImageWritingVideoTool::unencodableSizeCreatesNoFile()
{
    ImageWritingVideoTool tool;
    const QString path = file(QStringLiteral("tiny.mp4"));
    QList<bool> started;
    tool.writePath(path, QSizeF(1.5, 240), 20, [&](bool ok) { started.append(ok); });
    tool.writePath(path, QSizeF(320, 240), 0, [&](bool ok) { started.append(ok); });
    tool.writePath(file(QStringLiteral("no-such-folder/x.mp4")), QSizeF(320, 240), 20,
                   [&](bool ok) { started.append(ok); });
    QCOMPARE(started, (QList<bool>{false, false, false}));
    QVERIFY(!QFile::exists(path));
}

void tst_ImageWritingVideoTool::finishWithoutRecordingCallsNothing()
{
    ImageWritingVideoTool tool;
    Completions done;
    tool.writeCompleteBlock(done.callback(0));
    const QString path = file(QStringLiteral("once.mp4"));
    tool.writePath(path, QSizeF(320, 240), 20, {});
    writeFrames(tool, 3, QSize(320, 240));
    tool.writeCompleteBlock(done.callback(1));
    tool.writeCompleteBlock(done.callback(2)); // the recording is already finishing
    QVERIFY(tool.finishAllAndWait(30s));
    QCOMPARE(done.calls(), 1);
    QCOMPARE(done.path(1), path);
}

void tst_ImageWritingVideoTool::finishAllAndWaitCompletesFiles()
{
    ImageWritingVideoTool tool;
    const QString path = file(QStringLiteral("at-exit.mp4"));
    tool.writePath(path, QSizeF(640, 480), 20, {});
    writeFrames(tool, 25, QSize(640, 480));
    QVERIFY(tool.finishAllAndWait(30s));
    QVERIFY(!tool.isRecording());
    QCOMPARE(tool.finishingCount(), 0);
    const ProbeReport probe = ffprobe(path);
    QCOMPARE(probe.exitCode, 0);
    QCOMPARE(probe.readFrames, 25);
    QCOMPARE(probe.durationSeconds, 1.25);
}

void tst_ImageWritingVideoTool::exitThatCannotWaitCutsTheRecordingShort()
{
    Gate gate;
    ImageWritingVideoTool::Options options;
    options.queueCapacity = 4;
    options.workerFrameHook = [&](MediaTime) { gate.pass(); };
    ImageWritingVideoTool tool(options);
    const QString path = file(QStringLiteral("cut-short.mp4"));
    tool.writePath(path, QSizeF(320, 240), 20, {});
    gate.close();
    writeFrames(tool, 3, QSize(320, 240));
    QVERIFY(gate.waitForWaiting(1));
    Completions done;
    tool.writeCompleteBlock(done.callback(0));

    // The worker is stuck in frame 0: the exit stops waiting and cuts the
    // recording short instead of hanging.
    QVERIFY(!tool.finishAllAndWait(50ms));
    QCOMPARE(tool.finishingCount(), 1);
    gate.open();
    QVERIFY(done.waitFor(1));
    QCOMPARE(done.path(0), QString());
    QTRY_COMPARE_WITH_TIMEOUT(tool.finishingCount(), 0, 10000);
    // The frame that was in the encoder is in a properly closed file; the
    // queued ones were dropped.
    const Mp4Contents mp4 = readMp4(path, true);
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QCOMPARE(mp4.decodedFrames, 1);
}

void tst_ImageWritingVideoTool::failedWriteReportsEmptyPathAndKeepsWhatWasWritten()
{
    // A disk that fills up, played by a file size limit on this process.
    constexpr rlim_t kLimitBytes = 120 * 1024;
    rlimit saved = {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = kLimitBytes;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto restore = qScopeGuard([&] {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
    });

    ImageWritingVideoTool tool;
    const QString path = file(QStringLiteral("disk-full.mp4"));
    tool.writePath(path, QSizeF(640, 480), 20, {});
    QVERIFY(tool.isRecording());
    int accepted = 0;
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    // Offer frames until the writer stops taking them for good.
    while (accepted < 1000 && sinceProgress.elapsed() < 3000) {
        const int before = tool.frame();
        tool.writeImage(testimages::picture(640, 480, accepted), {});
        if (tool.frame() > before) {
            ++accepted;
            sinceProgress.restart();
        } else {
            std::this_thread::sleep_for(2ms);
        }
    }
    QVERIFY2(accepted < 1000, "the writer never failed");
    int callbacks = 0;
    tool.writeImage(testimages::picture(640, 480), [&](bool) { ++callbacks; });
    QCOMPARE(callbacks, 0);

    Completions done;
    tool.writeCompleteBlock(done.callback(0));
    QVERIFY(done.waitFor(1));
    QCOMPARE(done.path(0), QString());

    // The fragments written before the failure still play.
    QVERIFY(QFileInfo(path).size() <= qint64(kLimitBytes));
    const Mp4Contents mp4 = readMp4(path, true);
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    const int kept = int(mp4.pts.size());
    QVERIFY2(kept >= 20 && kept < accepted,
             qPrintable(QStringLiteral("%1 of %2 frames kept").arg(kept).arg(accepted)));
    QVERIFY(mp4.hasContiguousTimes(20));
    QCOMPARE(mp4.decodedFrames, kept);
    const ProbeReport probe = ffprobe(path); // no half fragment at the end
    QCOMPARE(probe.exitCode, 0);
    QVERIFY2(probe.errors.isEmpty(), qPrintable(probe.errors));
    QCOMPARE(probe.readFrames, kept);
}

void tst_ImageWritingVideoTool::killedRecordingKeepsAllButTheLastSeconds_data()
{
    QTest::addColumn<int>("fps");
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<int>("framesBeforeKill");
    QTest::newRow("video") << 20 << 50 << 80;
    QTest::newRow("time-lapse") << 24 << 625 << 8;
}

void tst_ImageWritingVideoTool::killedRecordingKeepsAllButTheLastSeconds()
{
    QFETCH(int, fps);
    QFETCH(int, intervalMs);
    QFETCH(int, framesBeforeKill);
    const QString path = file(QStringLiteral("killed-%1.mp4").arg(QTest::currentDataTag()));

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--record-until-killed"), path, QString::number(fps),
                 QString::number(intervalMs)});
    QVERIFY(child.waitForStarted());
    int accepted = 0;
    const auto readLines = [&] {
        while (child.canReadLine())
            accepted += child.readLine().startsWith("accepted");
    };
    while (accepted < framesBeforeKill && child.state() == QProcess::Running) {
        child.waitForReadyRead(1000);
        readLines();
    }
    child.kill(); // SIGKILL: no destructor, no trailer
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    readLines(); // what the child reported before it died
    QVERIFY(accepted >= framesBeforeKill);

    const Mp4Contents mp4 = readMp4(path, true);
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    const int kept = int(mp4.pts.size());
    const int framesInTwoSeconds = 2000 / intervalMs;
    qInfo("accepted %d, kept %d", accepted, kept);
    QVERIFY(kept <= accepted);
    QVERIFY2(kept >= accepted - framesInTwoSeconds,
             qPrintable(QStringLiteral("%1 of %2 frames kept").arg(kept).arg(accepted)));
    QVERIFY(mp4.hasContiguousTimes(fps));
    QCOMPARE(mp4.decodedFrames, kept);
    QCOMPARE(mp4.decodeErrors, 0);

    const ProbeReport probe = ffprobe(path);
    QCOMPARE(probe.exitCode, 0);
    QCOMPARE(probe.readFrames, kept);
}

int main(int argc, char **argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--record-until-killed") == 0)
        return recordUntilKilled(QString::fromLocal8Bit(argv[2]), atoi(argv[3]), atoi(argv[4]));
    QCoreApplication app(argc, argv);
    tst_ImageWritingVideoTool test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ImageWritingVideoTool.moc"
