// The video writer through its interface, its recordings read back with
// libavformat: time stamps, the queue's refusals, the fragments that keep a
// file playable after a crash, and what is kept when the disk or the folder
// fails it.

#include "capture/ImageWritingVideoTool.h"
#include "capture/Mp4Reader.h"
#include "capture/RecordingHelpers.h"
#include "platform/FileSync.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace recording;

class tst_ImageWritingVideoTool : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString file(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void recordingPlaysAtItsRate_data()
    {
        QTest::addColumn<QSizeF>("size");
        QTest::addColumn<int>("fps");
        QTest::addColumn<QSize>("encoded"); // whole pixels, even sides: the top row goes
        QTest::newRow("640x480 at 20") << QSizeF(640, 480) << 20 << QSize(640, 480);
        QTest::newRow("321.7x241.2 at 10") << QSizeF(321.7, 241.2) << 10 << QSize(320, 240);
    }
    void recordingPlaysAtItsRate()
    {
        QFETCH(QSizeF, size);
        QFETCH(int, fps);
        QFETCH(QSize, encoded);
        ImageWritingVideoTool tool;
        const QString path = file(QTest::currentDataTag());
        QList<bool> started;
        tool.writePath(path, size, fps, [&](bool ok) { started.append(ok); });
        QCOMPARE(started, QList<bool>{true});
        const QSize source(int(size.width()), int(size.height()));
        const int frames = 2 * fps + 3;
        QVERIFY(writeFrames(tool, frames, source));
        QCOMPARE(tool.presentTime(), (MediaTime{frames - 1, fps}));
        QVERIFY(tool.frameMemoryBytes() > 0);
        const Report report = finish(tool)();
        QCOMPARE(report.outcome, RecordingOutcome::Completed);
        QCOMPARE(report.path, path);
        // A complete file needs no frame memory, even before anything reaps it.
        QCOMPARE(tool.frameMemoryBytes(), 0);

        const Mp4Contents mp4 = readMp4(path, true);
        QCOMPARE(mp4.codecName, QStringLiteral("h264"));
        QCOMPARE(QSize(mp4.width, mp4.height), encoded);
        QCOMPARE(int(mp4.pts.size()), frames);
        QVERIFY(mp4.plays(fps));
        QCOMPARE(mp4.durationSeconds, double(frames) / fps);
        // Each frame is the one offered at its index (consecutive ones differ by
        // about two levels), its bottom-left part.
        const QRect kept(QPoint(0, source.height() - encoded.height()), encoded);
        for (int i = 0; i < frames; ++i) {
            const QImage offered = frame(source, i);
            const double top = meanLuma(offered, kept.adjusted(0, 0, 0, 1 - kept.height()));
            QVERIFY2(qAbs(mp4.meanLuma[i] - meanLuma(offered, kept)) < 0.8 &&
                         qAbs(mp4.topRowLuma[i] - top) < 40,
                     qPrintable(QStringLiteral("frame %1").arg(i)));
        }
    }

    void refusedStartTouchesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSizeF>("size");
        QTest::addColumn<int>("fps");
        QTest::addColumn<QByteArray>("there"); // what is at the path before; null: nothing
        QTest::newRow("a capture at the path")
            << "earlier" << QSizeF(320, 240) << 20 << QByteArray("x");
        QTest::newRow("too narrow") << "narrow" << QSizeF(1.5, 240) << 20 << QByteArray();
        QTest::newRow("no rate") << "norate" << QSizeF(320, 240) << 0 << QByteArray();
        QTest::newRow("no folder") << "missing/x" << QSizeF(320, 240) << 20 << QByteArray();
    }
    void refusedStartTouchesNothing()
    {
        QFETCH(QString, name);
        QFETCH(QSizeF, size);
        QFETCH(int, fps);
        QFETCH(QByteArray, there);
        QFile existing(file(name));
        QVERIFY(there.isNull() ||
                (existing.open(QIODevice::WriteOnly) && existing.write(there) > 0));
        existing.close();
        ImageWritingVideoTool tool;
        QList<bool> answers;
        tool.writePath(existing.fileName(), size, fps, [&](bool ok) { answers.append(ok); });
        QVERIFY(!tool.isRecording());
        // Frames and the finish find no recording: no answer at all.
        tool.writeImage(frame({320, 240}, 0), [&](bool ok) { answers.append(ok); });
        tool.writeCompleteBlock([&](const QString &) { answers.append(true); });
        QVERIFY(tool.finishAllAndWait(1s));
        QCOMPARE(answers, QList<bool>{false});
        QCOMPARE(QFileInfo::exists(existing.fileName()), !there.isNull());
        QCOMPARE(existing.open(QIODevice::ReadOnly) ? existing.readAll() : QByteArray(), there);
    }

    void heldWorkerRefusesFramesAndExitCutsItShort()
    {
        Gate gate;
        ImageWritingVideoTool tool(
            {.queueCapacity = 2, .encoderPreset = {}, .workerFrameHook = gate.hook()});
        tool.writePath(file(QStringLiteral("held")), QSizeF(320, 240), 20, {});
        std::unique_lock closed(gate.mutex);
        int answers = 0;
        for (int seed = 0; seed < 4; ++seed) {
            tool.writeImage(frame({320, 240}, seed), [&](bool) { ++answers; });
            QTRY_COMPARE(gate.held.load(), 1); // the worker holds frame 0, the queue two more
        }
        // The worker goes by its name, as top -H and gdb list the threads (the
        // encoder's own threads, started from it, take the name too).
        QStringList names;
        for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs))
            if (QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
                comm.open(QIODevice::ReadOnly))
                names << QString::fromLatin1(comm.readAll().trimmed());
        QVERIFY2(names.contains(QLatin1String(VideoWriterInput::kWorkerThreadName)),
                 qPrintable(names.join(QLatin1Char(' '))));
        // The fourth is dropped without an answer and takes no index.
        QCOMPARE(answers, 3);
        QCOMPARE(tool.droppedFrames(), 1);
        QCOMPARE(tool.presentTime(), (MediaTime{2, 20}));

        // The exit stops waiting for the stuck worker and cuts the file short:
        // the frame in the encoder is kept, the queued ones are not. The
        // worker closes the file once it can, but never reports any more: by
        // then the objects its report would reach may be gone.
        std::atomic<int> reports = 0;
        tool.writeCompleteWithReport([&](const Report &) { ++reports; });
        QVERIFY(!tool.finishAllAndWait(50ms));
        closed.unlock();
        QTRY_COMPARE(tool.finishingCount(), 0);
        QCOMPARE(reports.load(), 0);
        const Mp4Contents mp4 = readMp4(file(QStringLiteral("held")), true);
        QVERIFY(mp4.plays(20) && mp4.pts.size() == 1);
    }

    void fragmentsReachTheDiskAsTheyAreCut()
    {
        std::mutex mutex;
        QList<qint64> syncedSizes; // the file's size at every sync
        platform::filesync::setHookForTests([&](int fd) {
            struct stat info = {};
            ::fstat(fd, &info);
            std::lock_guard lock(mutex);
            syncedSizes.append(info.st_size);
            return ::fdatasync(fd);
        });
        const auto unhook = qScopeGuard([] { platform::filesync::setHookForTests({}); });
        ImageWritingVideoTool tool;
        const QString path = file(QStringLiteral("fragments"));
        tool.writePath(path, QSizeF(160, 120), 20, {});
        // Two fragments of a second by the frame count; the last five frames go
        // to the disk by the clock, as no more come.
        QVERIFY(writeFrames(tool, 45, QSize(160, 120)));
        QTRY_COMPARE_WITH_TIMEOUT(int(readMp4(path).pts.size()), 45, 10000);
        QCOMPARE(finish(tool)().outcome, RecordingOutcome::Completed);

        // Each fragment was on the disk before the next one was begun, and so
        // was the complete file.
        const Mp4Contents mp4 = readMp4(path);
        std::lock_guard lock(mutex);
        for (const auto &[type, end] : mp4.boxes)
            QVERIFY2(type != "mdat" || syncedSizes.contains(end), qPrintable(QString::number(end)));
        QVERIFY(mp4.endsWithWholeBox);
        QCOMPARE(syncedSizes.last(), mp4.boxes.back().second);
    }

    // However a recording fails, what can be kept is kept, at its path, and
    // nothing that is not the recording's own is touched.
    void failedWrite_data()
    {
        // "room N": N bytes left under a file-size limit; "full N": the Nth
        // sync meets a full disk (the header's is the first); "removed": the
        // folder goes after five frames.
        QTest::addColumn<QString>("fault");
        // Then put in the file's place: "file" at its path, "folder" a file
        // where its folder was, or nothing.
        QTest::addColumn<QString>("newcomer");
        QTest::addColumn<int>("keptFrames"); // -1: nothing kept; 0: a fragment or more
        QTest::addColumn<int>("outcome");
        const auto row = [](const char *name, const char *fault, const char *newcomer, int kept,
                            RecordingOutcome outcome) {
            QTest::newRow(name) << QString(fault) << QString(newcomer) << kept << int(outcome);
        };
        row("no room for the header", "room 100", "", -1, RecordingOutcome::NothingKept);
        row("room for a few fragments", "room 122880", "", 0, RecordingOutcome::CutShort);
        row("full at the header", "full 1", "", -1, RecordingOutcome::NoSpace);
        row("full at the header, another file at its path by then", "full 1", "file", -1,
            RecordingOutcome::NoSpace);
        row("full at the second fragment", "full 3", "", 20, RecordingOutcome::NoSpace);
        row("folder removed", "removed", "", 5, RecordingOutcome::FolderRemovedRestored);
        row("folder removed, a new file at its path", "removed", "file", -1,
            RecordingOutcome::FolderRemovedLost);
        row("folder removed, a file for the folder", "removed", "folder", -1,
            RecordingOutcome::FolderRemovedLost);
    }
    void failedWrite()
    {
        QFETCH(QString, fault);
        QFETCH(QString, newcomer);
        QFETCH(int, keptFrames);
        QFETCH(int, outcome);
        const QString folder = file(QTest::currentDataTag()),
                      path = folder + QStringLiteral("/take.mp4");
        QVERIFY(QDir().mkpath(folder));
        const bool removed = fault == u"removed";
        const int n = fault.section(u' ', 1).toInt();
        const QString newcomerPath = newcomer == u"folder" ? folder : path;
        const auto putNewcomer = [&] {
            QFile other(newcomerPath);
            return newcomer.isEmpty() ||
                   (QDir().mkpath(QFileInfo(other).path()) && other.open(QIODevice::WriteOnly) &&
                    other.write("other") > 0);
        };
        const auto lift =
            qScopeGuard(limitFileSize(fault.startsWith(u"room") ? rlim_t(n) : RLIM_INFINITY));
        std::atomic<int> syncs = 0;
        platform::filesync::setHookForTests([&](int fd) {
            if (!fault.startsWith(u"full") || ++syncs < n)
                return ::fdatasync(fd);
            if (syncs == n && !newcomer.isEmpty()) {
                QFile::rename(path, path + QStringLiteral(".aside"));
                putNewcomer();
            }
            errno = ENOSPC;
            return -1;
        });
        const auto unhook = qScopeGuard([] { platform::filesync::setHookForTests({}); });
        ImageWritingVideoTool tool;
        tool.writePath(path, QSizeF(640, 480), 20, {});
        int accepted = 0; // until the writer takes no more for good
        if (removed) {
            QVERIFY(writeFrames(tool, accepted = 5, QSize(640, 480)));
            QVERIFY(QDir(folder).removeRecursively() && putNewcomer());
        }
        for (int seed = 0; !removed && !tool.hasFailed() && seed < 5000; ++seed) {
            tool.writeImage(frame({640, 480}, seed), [&](bool ok) { accepted += ok; });
            std::this_thread::sleep_for(2ms);
        }
        const Report report = finish(tool)();
        QCOMPARE(int(report.outcome), outcome);
        QVERIFY(!report.detail.isEmpty());
        // A file without a frame is removed, but only the recording's own:
        // what took its place stays. Otherwise the file is cut back to its
        // last whole fragment, which plays.
        QCOMPARE(report.keptPath, keptFrames < 0 ? QString() : path);
        QFile there(newcomerPath);
        QCOMPARE(QFileInfo::exists(path), keptFrames >= 0 || newcomer == u"file");
        QVERIFY(newcomer.isEmpty() ||
                (there.open(QIODevice::ReadOnly) && there.readAll() == "other"));
        QVERIFY(!fault.startsWith(u"room") || QFileInfo(path).size() <= n);
        const Mp4Contents mp4 = readMp4(path, true);
        const int kept = int(mp4.pts.size());
        QVERIFY2(keptFrames < 0 || (mp4.plays(20) &&
                                    (removed ? kept == accepted : kept >= 20 && kept < accepted) &&
                                    (keptFrames == 0 || kept == keptFrames)),
                 qPrintable(QStringLiteral("%1 of %2").arg(kept).arg(accepted)));
    }
};

QTEST_GUILESS_MAIN(tst_ImageWritingVideoTool)
#include "tst_ImageWritingVideoTool.moc"
