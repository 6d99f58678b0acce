// Recordings that meet a full volume, for real: run inside a mount namespace
// with two small tmpfs volumes (scripts/disk-full-run sets them up).
//
// Guarded: the viewer's window records 3840x2160 video from a replayed stream
// into a folder on a volume with a little more than the 256 MB margin free,
// until the disk guard finishes the recording. It prints how long the
// recording ran, the free space when it stopped and once the file was
// complete, the notice, the frames handed to the writer and those in the file,
// and whether ffmpeg decodes the file without an error.
//
// Unguarded: the video writer alone records into a volume too small for the
// recording until a write fails, and prints the outcome, the frames accepted
// and kept, and whether the kept file decodes.
//
//   bench_disk_full --guarded DIR --unguarded DIR

#include "BenchSupport.h"
#include "ViewerRig.h"

#include "app/MainWindow.h"
#include "capture/ImageWritingVideoTool.h"
#include "platform/Volumes.h"
#include "stream/JpegDecoder.h"
#include "support/FormControls.h"
#include "viewer/ViewController.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>
#include <sys/statvfs.h>

using namespace bench;

namespace
{
constexpr int k4kTag = 1;

double freeMb(const QString &folder)
{
    struct statvfs info = {};
    if (::statvfs(QFile::encodeName(folder).constData(), &info) != 0)
        return -1;
    return double(info.f_bavail) * double(info.f_frsize) / (1024.0 * 1024.0);
}

// True when ffmpeg decodes every frame of the file without a word of error.
bool decodesCleanly(const QString &path)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                  QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")});
    return ffmpeg.waitForFinished(120000) && ffmpeg.exitCode() == 0 &&
           ffmpeg.readAllStandardError().trimmed().isEmpty();
}

const char *outcomeName(RecordingOutcome outcome)
{
    switch (outcome) {
    case RecordingOutcome::Completed:
        return "completed";
    case RecordingOutcome::CutShort:
        return "cut short";
    case RecordingOutcome::NoSpace:
        return "no space";
    case RecordingOutcome::FolderRemovedRestored:
        return "folder removed, restored";
    case RecordingOutcome::FolderRemovedLost:
        return "folder removed, lost";
    case RecordingOutcome::NothingKept:
        return "nothing kept";
    }
    return "?";
}

int guarded(const QString &folder, const std::vector<QByteArray> &frames)
{
    ReplayServer server(frames, 8);
    platform::StorageVolumes volumes;
    ViewerRig rig(server.baseUrl(), volumes, folder);
    if (!rig.waitForFrameSize(QSize(3840, 2160), 30000) || !rig.chooseMode(QStringLiteral("Video")))
        return 1;
    ImageWritingVideoTool &writer = ImageWritingVideoTool::shareInstance();
    const double freeAtStart = freeMb(folder);
    rig.pressCapture();
    if (!rig.controller().isVideo()) {
        std::fprintf(stderr, "the recording did not start\n");
        return 1;
    }
    const QString path = writer.writePath();
    QElapsedTimer clock;
    clock.start();
    int handedOver = 0;
    spinUntil(
        [&] {
            handedOver = std::max(handedOver, writer.frame());
            return !rig.controller().isVideo();
        },
        600000, 20);
    const double seconds = double(clock.elapsed()) / 1000;
    const double freeAtStop = freeMb(folder);
    const QString notice = FormControls(rig.window()).tipsLab->text();
    spinUntil([&] { return writer.finishingCount() == 0; }, 60000);
    const int inFile = countVideoPackets(path);
    std::printf("Guarded: 3840x2160 at 8 fps into a volume with %.1f MiB free\n"
                "  stopped by itself after %.1f s: \"%s\"\n"
                "  free at the stop %.1f MiB, once the file was complete %.1f MiB (margin 256)\n"
                "  frames handed to the writer %d, in the file %d; decodes cleanly: %s\n",
                freeAtStart, seconds, qPrintable(notice), freeAtStop, freeMb(folder), handedOver,
                inFile, decodesCleanly(path) ? "yes" : "no");
    return 0;
}

int unguarded(const QString &folder, const QImage &picture)
{
    ImageWritingVideoTool writer;
    const QString path = QDir(folder).filePath(QStringLiteral("unguarded.mp4"));
    const double freeAtStart = freeMb(folder);
    writer.writePath(path, picture.size(), 8, {});
    int accepted = 0;
    for (int id = 0; id < 5000 && writer.isRecording() && !writer.hasFailed(); ++id) {
        QImage frame = picture;
        stampFrameId(frame, id % (1 << kFrameIdBits));
        writer.writeImage(frame, [&](bool ok) { accepted += ok; });
        spin(5);
    }
    bool reported = false;
    ImageWritingVideoTool::FinishReport report;
    writer.writeCompleteWithReport([&](const ImageWritingVideoTool::FinishReport &r) {
        report = r;
        reported = true;
    });
    writer.finishAllAndWait(std::chrono::seconds(60));
    const int kept = countVideoPackets(path);
    std::printf("Unguarded: the writer alone, 3840x2160 at 8 fps into a volume with %.1f MiB free\n"
                "  outcome: %s (%s); frames accepted %d, kept %d; file %.1f MiB, free left "
                "%.2f MiB; decodes cleanly: %s\n",
                freeAtStart, reported ? outcomeName(report.outcome) : "no report",
                qPrintable(report.detail), accepted, kept,
                double(QFileInfo(path).size()) / (1024.0 * 1024.0), freeMb(folder),
                kept > 0 && decodesCleanly(path) ? "yes" : "no");
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    bench::prepareEnvironment();
    QApplication app(argc, argv);
    bench::quietViewerLog();
    QCommandLineParser parser;
    const QCommandLineOption guardedOption(QStringLiteral("guarded"),
                                           QStringLiteral("Folder for the viewer's recording."),
                                           QStringLiteral("DIR"));
    const QCommandLineOption unguardedOption(QStringLiteral("unguarded"),
                                             QStringLiteral("Folder for the writer alone."),
                                             QStringLiteral("DIR"));
    parser.addOptions({guardedOption, unguardedOption});
    parser.addHelpOption();
    parser.process(app);

    const QByteArray jpeg = simulatorFrame(k4kTag);
    const QImage picture = JpegDecoder().decode(jpeg);
    if (picture.isNull()) {
        std::fprintf(stderr, "camera-box-sim gave no 3840x2160 frame (set ORBILENS_SIM)\n");
        return 1;
    }
    int status = 0;
    if (parser.isSet(guardedOption))
        status |= guarded(parser.value(guardedOption), stampedFrames(picture, 85, 0));
    if (parser.isSet(unguardedOption))
        status |= unguarded(parser.value(unguardedOption), picture);
    return status;
}
