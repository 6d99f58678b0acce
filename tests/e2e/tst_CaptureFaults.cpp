// Captures when the disk or the camera box lets the viewer down, against the
// camera-box simulator process: the save folder removed or made read-only
// during a recording, a disk that fills up, the camera box killed. For each
// fault the user must be told, what was written must still play, and the
// viewer must go on streaming and capturing.

#include "capture/ImageWritingVideoTool.h"
#include "capture/Mp4Reader.h"
#include "support/WindowRig.h"
#include "stream/CameraBuffer.h"
#include "support/LogCapture.h"
#include "ui_MainWindow.h"
#include "viewer/ViewController.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageReader>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr int kTimeoutMs = 20000;
const QString kSaved = QStringLiteral("Saved successfully");
const QString kWritten = QStringLiteral("视频写入");
const QString kWriteFailed =
    QStringLiteral("The recording stopped: its file could not be written.");
const QString kPhotoNotSaved = QStringLiteral("The photo could not be saved.");
const QString kCouldNotStart = QStringLiteral("The recording could not start.");

ImageWritingVideoTool &writer()
{
    return ImageWritingVideoTool::shareInstance();
}

// The frames the writer took, by the log: a line per frame, or, where the
// viewer counts them, the count it logs when the recording ends.
int framesWritten(const LogCapture &log)
{
    const QString countPrefix = kWritten + QLatin1Char(' ');
    bool counted = false;
    int total = 0;
    for (const QString &line : log.lines()) {
        if (line.startsWith(countPrefix)) {
            counted = true;
            total += line.mid(countPrefix.size()).toInt();
        }
    }
    return counted ? total : log.count(kWritten);
}

// The simulator at 640 x 480 and 20 frames a second, and the viewer's window
// on it with a save folder, in video mode.
class Rig : public WindowRig
{
public:
    bool start()
    {
        return WindowRig::start(simArguments(), QSize(1000, 700)) &&
               QTest::qWaitFor([&] { return c().photoSize() == QSizeF(640, 480); }, kTimeoutMs);
    }

    // A video recording started from the capture button: its file's path,
    // or empty when none started.
    QString startRecording()
    {
        chooseMode(QStringLiteral("Video"));
        press();
        return c().isVideo() ? writer().writePath() : QString();
    }

    // Again on the port it had before: the viewer's camera address does not
    // change.
    bool restartSim() { return sim().start(simArguments()); }

    // True when frames of the stream keep reaching the screen.
    bool streams()
    {
        const auto painted = form().previewImgeView->paintCount();
        return QTest::qWaitFor([&] { return form().previewImgeView->paintCount() >= painted + 10; },
                               kTimeoutMs);
    }

    // Records a few seconds into the save folder and checks the file.
    void recordsAgain(LogCapture &log)
    {
        chooseMode(QStringLiteral("Video"));
        const int completedBefore = log.count(QStringLiteral("stopRecording1"));
        press();
        QVERIFY(c().isVideo());
        const QString path = writer().writePath();
        QVERIFY(path.startsWith(folder()));
        QTRY_VERIFY_WITH_TIMEOUT(writer().frame() >= 30, kTimeoutMs);
        press();
        QVERIFY(!c().isVideo());
        QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("stopRecording1")), completedBefore + 1,
                                  kTimeoutMs);
        const Mp4Contents mp4 = readMp4(path, true);
        QVERIFY2(mp4.error.isEmpty(), qPrintable(mp4.error));
        QVERIFY(mp4.pts.size() >= 30);
        QCOMPARE(mp4.decodedFrames, int(mp4.pts.size()));
        QVERIFY(mp4.hasContiguousTimes(20));
    }

private:
    // On the port it had before, once it had one.
    QStringList simArguments()
    {
        QStringList arguments{QStringLiteral("--resolution"), QStringLiteral("0"),
                              QStringLiteral("--fps"), QStringLiteral("20")};
        if (sim().port() != 0)
            arguments << QStringLiteral("--port") << QString::number(sim().port());
        return arguments;
    }
};

// A playable start of a recording: frames that decode, stamped at the rate.
void checkPlayable(const QString &path, int atLeastFrames)
{
    const Mp4Contents mp4 = readMp4(path, true);
    QVERIFY2(mp4.error.isEmpty(), qPrintable(path + QLatin1String(": ") + mp4.error));
    QCOMPARE(mp4.codecName, QStringLiteral("h264"));
    QCOMPARE(QSize(mp4.width, mp4.height), QSize(640, 480));
    QVERIFY2(int(mp4.pts.size()) >= atLeastFrames,
             qPrintable(QStringLiteral("%1 frames").arg(mp4.pts.size())));
    QCOMPARE(mp4.decodedFrames, int(mp4.pts.size()));
    QCOMPARE(mp4.decodeErrors, 0);
    QVERIFY(mp4.hasContiguousTimes(20));
    const ProbeReport probe = ffprobe(path);
    QCOMPARE(probe.exitCode, 0);
    QCOMPARE(probe.readFrames, int(mp4.pts.size()));
}

// Makes a folder refuse new files for as long as it lives. Root ignores
// permission bits, so root gets the immutable attribute (what chattr +i
// sets); anyone else gets the write bits taken away. Files already open for
// writing stay writable either way.
class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(const QString &path) : m_path(QFile::encodeName(path))
    {
        if (::geteuid() == 0) {
            m_fd = ::open(m_path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            int flags = 0;
            if (m_fd < 0 || ::ioctl(m_fd, FS_IOC_GETFLAGS, &flags) != 0) {
                m_why = QStringLiteral("cannot read the folder's attributes: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno)));
                return;
            }
            m_flags = flags;
            flags |= FS_IMMUTABLE_FL;
            if (::ioctl(m_fd, FS_IOC_SETFLAGS, &flags) != 0)
                m_why = QStringLiteral("the file system refuses the immutable attribute: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno)));
        } else {
            struct stat info = {};
            ::stat(m_path.constData(), &info);
            m_mode = info.st_mode & 07777;
            if (::chmod(m_path.constData(), 0555) != 0)
                m_why = QString::fromLocal8Bit(std::strerror(errno));
        }
        // Whatever was done, it counts only if a new file is refused now.
        const QByteArray probe = m_path + "/probe";
        const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.constData());
            if (m_why.isEmpty())
                m_why = QStringLiteral("the folder still takes new files");
        }
    }
    ~ReadOnlyFolder() { lift(); }
    ReadOnlyFolder(const ReadOnlyFolder &) = delete;
    ReadOnlyFolder &operator=(const ReadOnlyFolder &) = delete;

    // Empty when the folder refuses new files; otherwise why it does not.
    const QString &whyNot() const { return m_why; }

    void lift()
    {
        if (m_fd >= 0) {
            int flags = m_flags;
            ::ioctl(m_fd, FS_IOC_SETFLAGS, &flags);
            ::close(m_fd);
            m_fd = -1;
        } else if (m_mode >= 0) {
            ::chmod(m_path.constData(), mode_t(m_mode));
            m_mode = -1;
        }
    }

private:
    QByteArray m_path;
    int m_fd = -1;
    int m_flags = 0;
    int m_mode = -1;
    QString m_why;
};

// A disk that fills up, played by a file size limit on this process: writes
// past the limit fail with EFBIG (SIGXFSZ ignored). Only the soft limit is
// lowered, so lifting it needs no privilege.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() { lift(); }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool isSet() const { return m_set; }
    void lift()
    {
        if (!m_set)
            return;
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_previousHandler);
        m_set = false;
    }

private:
    rlimit m_saved = {};
    void (*m_previousHandler)(int) = nullptr;
    bool m_set = false;
};
} // namespace

class tst_CaptureFaults : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void folderRemovedDuringRecording();
    void folderMadeReadOnlyDuringRecording();
    void photoIntoReadOnlyFolder();
    void diskFillsUpDuringRecording();
    void cameraBoxKilledDuringRecording();
};

void tst_CaptureFaults::folderRemovedDuringRecording()
{
    Rig rig;
    QVERIFY2(rig.start(), "camera-box-sim did not start or sent no frame");
    LogCapture log;
    const QString path = rig.startRecording();
    QVERIFY(!path.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(writer().frame() >= 30, kTimeoutMs);

    // The user deletes the folder, file and all, while it records.
    QVERIFY(QDir(rig.folder()).removeRecursively());
    QVERIFY(!QFileInfo::exists(rig.folder()));
    QElapsedTimer sinceFault;
    sinceFault.start();

    // The writer sees it at its next fragment; the recording ends at once.
    QTRY_VERIFY_WITH_TIMEOUT(!rig.c().isVideo(), kTimeoutMs);
    const qint64 stoppedAfterMs = sinceFault.elapsed();
    QCOMPARE(rig.notice(), kWriteFailed);
    QVERIFY(rig.form().timeLab->isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(rig.fakes.alerts.shown().size(), 1, kTimeoutMs);
    QCOMPARE(log.count(QStringLiteral("stopRecording0")), 1);
    QCOMPARE(rig.fakes.alerts.informativeTexts().first(),
             QStringLiteral("The save folder was removed during the recording. What was "
                            "recorded until then was saved again at:\n%1")
                 .arg(path));

    // What was written before the removal came back, whole fragments only.
    QVERIFY(QFileInfo(path).isFile());
    checkPlayable(path, 20);
    const int kept = int(readMp4(path).pts.size());
    QVERIFY(framesWritten(log) >= kept);
    qDebug("folder removed: stopped %lld ms after, %d of %d frames restored", stoppedAfterMs, kept,
           framesWritten(log));

    QVERIFY(rig.streams());
    rig.recordsAgain(log);
    QCOMPARE(rig.fakes.alerts.shown().size(), 1);
}

void tst_CaptureFaults::folderMadeReadOnlyDuringRecording()
{
    Rig rig;
    QVERIFY2(rig.start(), "camera-box-sim did not start or sent no frame");
    LogCapture log;
    const QString path = rig.startRecording();
    QVERIFY(!path.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(writer().frame() >= 20, kTimeoutMs);

    auto readOnly = std::make_unique<ReadOnlyFolder>(rig.folder());
    if (!readOnly->whyNot().isEmpty())
        QSKIP(qPrintable(
            QStringLiteral("cannot make %1 read-only: %2").arg(rig.folder(), readOnly->whyNot())));

    // The file was open before: it is written on to the end, and whole.
    const int before = writer().frame();
    QTRY_VERIFY_WITH_TIMEOUT(writer().frame() >= before + 40, kTimeoutMs);
    QVERIFY(rig.c().isVideo());
    rig.press();
    QCOMPARE(rig.notice(), kSaved);
    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("stopRecording1")), 1, kTimeoutMs);
    QVERIFY(rig.fakes.alerts.shown().isEmpty());
    const int written = framesWritten(log);
    checkPlayable(path, written);
    QCOMPARE(int(readMp4(path).pts.size()), written);

    // The next recording cannot make its file: refused, and said so.
    rig.press();
    QVERIFY(!rig.c().isVideo());
    QCOMPARE(rig.notice(), kCouldNotStart);
    QCOMPARE(rig.files(QStringLiteral("*")).size(), 1);

    readOnly.reset();
    QVERIFY(rig.streams());
    rig.recordsAgain(log);
    QVERIFY(rig.fakes.alerts.shown().isEmpty());
}

void tst_CaptureFaults::photoIntoReadOnlyFolder()
{
    Rig rig;
    QVERIFY2(rig.start(), "camera-box-sim did not start or sent no frame");

    auto readOnly = std::make_unique<ReadOnlyFolder>(rig.folder());
    if (!readOnly->whyNot().isEmpty())
        QSKIP(qPrintable(
            QStringLiteral("cannot make %1 read-only: %2").arg(rig.folder(), readOnly->whyNot())));
    rig.press();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.c().isSnapshot(), kTimeoutMs);
    QCOMPARE(rig.notice(), kPhotoNotSaved);
    // Not even a half-written temporary file.
    QVERIFY(QDir(rig.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());

    readOnly.reset();
    QVERIFY(rig.streams());
    rig.press();
    QTRY_COMPARE_WITH_TIMEOUT(rig.files(QStringLiteral("*.jpg")).size(), 1, kTimeoutMs);
    QCOMPARE(rig.notice(), kSaved);
    QImageReader reader(QDir(rig.folder()).filePath(rig.files(QStringLiteral("*.jpg")).first()));
    QCOMPARE(reader.size(), QSize(640, 480));
    QVERIFY(!reader.read().isNull());
    QVERIFY(rig.fakes.alerts.shown().isEmpty());
}

void tst_CaptureFaults::diskFillsUpDuringRecording()
{
    Rig rig;
    QVERIFY2(rig.start(), "camera-box-sim did not start or sent no frame");
    LogCapture log;
    const QString path = rig.startRecording();
    QVERIFY(!path.isEmpty());
    // A fragment or more on the disk before it fills.
    QTRY_VERIFY_WITH_TIMEOUT(writer().frame() >= 30 && QFileInfo(path).size() > 4096, kTimeoutMs);
    const qint64 sizeAtLimit = QFileInfo(path).size();
    constexpr qint64 kRoomLeft = 32 * 1024;
    FileSizeLimit limit(rlim_t(sizeAtLimit + kRoomLeft));
    QVERIFY(limit.isSet());
    QElapsedTimer sinceFault;
    sinceFault.start();

    QTRY_VERIFY_WITH_TIMEOUT(!rig.c().isVideo(), kTimeoutMs);
    const qint64 stoppedAfterMs = sinceFault.elapsed();
    QCOMPARE(rig.notice(), kWriteFailed);
    QTRY_COMPARE_WITH_TIMEOUT(rig.fakes.alerts.shown().size(), 1, kTimeoutMs);
    limit.lift();
    QCOMPARE(log.count(QStringLiteral("stopRecording0")), 1);
    const QString report = rig.fakes.alerts.informativeTexts().first();
    QVERIFY2(report.startsWith(QLatin1String("The recording could not be saved completely (")) &&
                 report.endsWith(
                     QStringLiteral(":\n%1\nIt plays up to the moment writing failed.").arg(path)),
             qPrintable(report));

    // Cut back to its last whole fragment, within the limit, and playable.
    const qint64 size = QFileInfo(path).size();
    QVERIFY2(size >= sizeAtLimit && size <= sizeAtLimit + kRoomLeft,
             qPrintable(QStringLiteral("%1 bytes, the limit at %2").arg(size).arg(sizeAtLimit)));
    checkPlayable(path, 20);
    const int kept = int(readMp4(path).pts.size());
    QVERIFY(kept < framesWritten(log));
    qDebug("disk full: stopped %lld ms after the limit, %d of %d frames kept in %lld bytes "
           "(limit %lld)",
           stoppedAfterMs, kept, framesWritten(log), size, sizeAtLimit + kRoomLeft);

    QVERIFY(rig.streams());
    rig.recordsAgain(log);
    QCOMPARE(rig.fakes.alerts.shown().size(), 1);
}

void tst_CaptureFaults::cameraBoxKilledDuringRecording()
{
    Rig rig;
    QVERIFY2(rig.start(), "camera-box-sim did not start or sent no frame");
    LogCapture log;
    const QString path = rig.startRecording();
    QVERIFY(!path.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(writer().frame() >= 30, kTimeoutMs);

    rig.sim().kill(); // SIGKILL: no goodbye on the socket beyond the kernel's
    QElapsedTimer sinceFault;
    sinceFault.start();
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().isDisconnect(), kTimeoutMs);
    const qint64 shownAfterMs = sinceFault.elapsed();
    // The end is shown, and the recording was saved on the way.
    QCOMPARE(rig.form().previewImgeView->image().size(), QSize(640, 360));
    QVERIFY(!rig.form().statusBtn->isChecked());
    QVERIFY(!rig.c().isVideo());
    QCOMPARE(rig.notice(), kSaved);
    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("stopRecording1")), 1, kTimeoutMs);
    QVERIFY(rig.fakes.alerts.shown().isEmpty());
    const int written = framesWritten(log);
    checkPlayable(path, written);
    QCOMPARE(int(readMp4(path).pts.size()), written);
    qDebug("camera box killed: stream end shown %lld ms after, %d of %d frames kept", shownAfterMs,
           written, written);

    // A capture now is refused with the reason.
    rig.press();
    QCOMPARE(rig.fakes.alerts.informativeTexts(),
             QStringList{QStringLiteral("Disconnected. Please reconnect.")});
    QCOMPARE(rig.files(QStringLiteral("*")).size(), 1);

    // The box comes back; the user turns the stream on again.
    QVERIFY2(rig.restartSim(), "camera-box-sim did not restart");
    QTest::mouseClick(rig.form().statusBtn, Qt::LeftButton);
    QVERIFY(rig.form().statusBtn->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(rig.form().previewImgeView->image().size() == QSize(640, 480),
                             kTimeoutMs);
    QVERIFY(!rig.c().isDisconnect());
    QVERIFY(rig.streams());
    rig.recordsAgain(log);
    QCOMPARE(rig.fakes.alerts.shown().size(), 1);
}

QTEST_MAIN(tst_CaptureFaults)
#include "tst_CaptureFaults.moc"
