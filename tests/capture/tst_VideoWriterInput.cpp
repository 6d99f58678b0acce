#include "capture/ImageBuffer.h"
#include "capture/Mp4Reader.h"
#include "capture/RecordingHelpers.h"
#include "capture/VideoWriterInput.h"
#include "support/TestImages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <fcntl.h>
#include <thread>

using namespace std::chrono_literals;
using namespace recording;

namespace
{

const QSize kSize(160, 120);

std::unique_ptr<PixelBuffer> frameBuffer(int seed)
{
    return pixelBufferRefWithSize(testimages::picture(kSize.width(), kSize.height(), seed),
                                  QSizeF(kSize));
}

VideoWriterInput::Config configFor(const QString &path, int flags = O_WRONLY)
{
    VideoWriterInput::Config config;
    config.path = path;
    config.fd = ::open(QFile::encodeName(path).constData(), flags | O_CREAT | O_EXCL, 0644);
    config.width = kSize.width();
    config.height = kSize.height();
    config.fps = 20;
    config.queueCapacity = 3;
    return config;
}

bool waitUntilDone(const VideoWriterInput &input)
{
    return input.waitUntilDone(VideoWriterInput::Clock::now() + 30s);
}

} // namespace

class tst_VideoWriterInput : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void finishedInputTakesNoMoreFrames();
    void abortDropsQueuedFramesAndReportsFailure();
    void failedFileWithNothingInItIsRemoved();
    void spareBuffersHaveTheRecordingSize();
    void removedFileIsRestoredAtItsPath();
    void removedFileThatCannotBeRestoredIsReported();

private:
    QTemporaryDir m_dir;
};

void tst_VideoWriterInput::finishedInputTakesNoMoreFrames()
{
    const QString path = m_dir.filePath(QStringLiteral("finished.mp4"));
    VideoWriterInput input(configFor(path));
    QVERIFY(input.appendPixelBuffer(frameBuffer(0), {0, 20}));
    std::atomic<int> firstCalls = 0;
    std::atomic<int> secondCalls = 0;
    std::atomic<bool> completed = false;
    input.markAsFinished([&](bool ok) {
        completed = ok;
        ++firstCalls;
    });
    input.markAsFinished([&](bool) { ++secondCalls; }); // only the first request counts
    QVERIFY(!input.isReadyForMoreMediaData());
    QVERIFY(!input.appendPixelBuffer(frameBuffer(1), {1, 20}));
    QVERIFY(!input.waitUntilReady(1ms));
    QVERIFY(waitUntilDone(input));
    QCOMPARE(firstCalls.load(), 1);
    QCOMPARE(secondCalls.load(), 0);
    QVERIFY(completed);
    QCOMPARE(int(readMp4(path).pts.size()), 1);
}

void tst_VideoWriterInput::abortDropsQueuedFramesAndReportsFailure()
{
    Gate gate;
    gate.close();
    const QString path = m_dir.filePath(QStringLiteral("aborted.mp4"));
    VideoWriterInput::Config config = configFor(path);
    config.frameHook = [&](MediaTime) { gate.pass(); };
    VideoWriterInput input(std::move(config));
    QVERIFY(input.appendPixelBuffer(frameBuffer(0), {0, 20}));
    QVERIFY(gate.waitForWaiting(1)); // frame 0 is being encoded
    QVERIFY(input.appendPixelBuffer(frameBuffer(1), {1, 20}));
    QVERIFY(input.appendPixelBuffer(frameBuffer(2), {2, 20}));
    std::atomic<int> calls = 0;
    std::atomic<bool> completed = true;
    input.markAsFinished([&](bool ok) {
        completed = ok;
        ++calls;
    });
    input.abort();
    gate.open();
    QVERIFY(waitUntilDone(input));
    QCOMPARE(calls.load(), 1);
    QVERIFY(!completed); // frames 1 and 2 never made it

    // The file is closed properly with the frame that was in the encoder.
    const Mp4Contents mp4 = readMp4(path, true);
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QCOMPARE(mp4.decodedFrames, 1);
    QCOMPARE(ffprobe(path).readFrames, 1);
}

void tst_VideoWriterInput::failedFileWithNothingInItIsRemoved()
{
    // A descriptor that cannot be written: the header already fails.
    const QString path = m_dir.filePath(QStringLiteral("unwritable.mp4"));
    VideoWriterInput input(configFor(path, O_RDONLY));
    std::atomic<bool> completed = true;
    input.markAsFinished([&](bool ok) { completed = ok; });
    QVERIFY(waitUntilDone(input));
    QVERIFY(input.hasFailed());
    QVERIFY(!completed);
    QVERIFY(!input.isReadyForMoreMediaData());
    QVERIFY(!QFile::exists(path));
}

void tst_VideoWriterInput::spareBuffersHaveTheRecordingSize()
{
    const QString path = m_dir.filePath(QStringLiteral("spares.mp4"));
    VideoWriterInput input(configFor(path));
    // The idle worker prepares buffers for the next frames; collect them.
    std::vector<std::unique_ptr<PixelBuffer>> taken;
    for (int tries = 0; tries < 500 && taken.size() < 5; ++tries) {
        if (auto buffer = input.takeSpareBuffer())
            taken.push_back(std::move(buffer));
        else
            std::this_thread::sleep_for(10ms);
    }
    QVERIFY(!taken.empty());
    for (const auto &buffer : taken) {
        QCOMPARE(buffer->width(), kSize.width());
        QCOMPARE(buffer->height(), kSize.height());
    }
    // A spare buffer carries a frame like any other.
    drawFrameIntoPixelBuffer(testimages::picture(kSize.width(), kSize.height()), *taken.front());
    QVERIFY(input.appendPixelBuffer(std::move(taken.front()), {0, 20}));
    std::atomic<bool> completed = false;
    input.markAsFinished([&](bool ok) { completed = ok; });
    QVERIFY(waitUntilDone(input));
    QVERIFY(completed);
    QCOMPARE(readMp4(path, true).decodedFrames, 1);
}

void tst_VideoWriterInput::removedFileIsRestoredAtItsPath()
{
    // Its folder goes while the file is open; once closed, the file would be
    // gone for good.
    const QString folder = m_dir.filePath(QStringLiteral("removed"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/take.mp4");
    VideoWriterInput input(configFor(path, O_RDWR));
    for (int i = 0; i < 5; ++i) {
        QVERIFY(input.waitUntilReady(5s));
        QVERIFY(input.appendPixelBuffer(frameBuffer(i), {i, 20}));
    }
    QVERIFY(QDir(folder).removeRecursively());
    std::atomic<int> calls = 0;
    std::atomic<bool> completed = true;
    input.markAsFinished([&](bool ok) {
        completed = ok;
        ++calls;
    });
    QVERIFY(waitUntilDone(input));
    QCOMPARE(calls.load(), 1);
    QVERIFY(!completed); // not where it was meant to be all along
    QVERIFY(input.wasRemoved());
    QVERIFY(input.hasFailed());
    QCOMPARE(input.keptPath(), path);
    const Mp4Contents mp4 = readMp4(path, true);
    QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
    QVERIFY(!mp4.pts.empty());
    QCOMPARE(mp4.decodedFrames, int(mp4.pts.size()));
    QVERIFY(mp4.hasContiguousTimes(20));
}

void tst_VideoWriterInput::removedFileThatCannotBeRestoredIsReported()
{
    const QString folder = m_dir.filePath(QStringLiteral("replaced"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/take.mp4");
    VideoWriterInput input(configFor(path, O_RDWR));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(input.waitUntilReady(5s));
        QVERIFY(input.appendPixelBuffer(frameBuffer(i), {i, 20}));
    }
    // A file now stands where the folder was: there is nowhere to put it back.
    QVERIFY(QDir(folder).removeRecursively());
    QFile blocker(folder);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    std::atomic<bool> completed = true;
    input.markAsFinished([&](bool ok) { completed = ok; });
    QVERIFY(waitUntilDone(input));
    QVERIFY(!completed);
    QVERIFY(input.wasRemoved());
    QVERIFY(input.keptPath().isEmpty());
    QVERIFY(!input.failure().isEmpty());
    QCOMPARE(QFileInfo(folder).size(), 0);
}

QTEST_GUILESS_MAIN(tst_VideoWriterInput)
#include "tst_VideoWriterInput.moc"
