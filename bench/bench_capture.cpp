// Capture through the real window, offscreen, with the live view running:
//
// Recording: every size of the camera box, streamed by a replay server at the
// rate the viewer records that size at, recorded in video mode and in
// time-lapse mode by choosing the mode and pressing the capture button. It
// prints the frames the server sent while recording, the frames offered to
// the video writer, those written (read back from the file) and dropped, and
// the CPU per written frame from the press to the file's completion (the
// whole viewer: receiving, decoding, showing and recording, without the
// server's threads); next to it `ffmpeg -i URL -c:v libx264` with the
// viewer's x264 settings on the same stream.
//
// Memory: resident memory before each recording's press, just before its
// stop, and 2 s after its file is complete, with the frame memory the video
// writer still holds then (none: spare buffers go with the complete file).
//
// Photo: at 3840x2160, the time from the press of the capture button to the
// photo's file on disk, the median over several presses.
//
//   bench_capture [--seconds S] [--ffmpeg-seconds S] [--tags LIST] [--presses N]
//                 [--no-recording] [--no-photo] [--no-ffmpeg] [--json FILE] [--quick]

#include "BenchSupport.h"
#include "ViewerRig.h"

#include "capture/EncoderPreset.h"
#include "capture/ImageWritingVideoTool.h"
#include "stream/JpegDecoder.h"
#include "viewer/ResolutionTable.h"
#include "viewer/ViewController.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>

using namespace bench;

namespace
{

constexpr int kJpegQuality = 85;
constexpr int kVideoMode = 1;

ImageWritingVideoTool &writer()
{
    return ImageWritingVideoTool::shareInstance();
}

QStringList filesIn(const QString &folder, const QString &pattern)
{
    return QDir(folder).entryList({pattern}, QDir::Files, QDir::Name);
}

struct Recording {
    bool ok = false;
    qint64 sent = 0;
    qint64 skipped = 0; // by the server: the viewer did not take them in time
    qint64 offered = 0;
    qint64 dropped = 0;
    int highestQueueDepth = 0;
    int written = -1;
    double cpuSeconds = 0;
    qint64 residentBefore = 0, residentDuring = 0, residentAfter = 0; // bytes
    qint64 frameMemoryAfter = -1;                                     // the writer's, bytes
    double cpuMsPerFrame() const { return written > 0 ? 1000 * cpuSeconds / written : 0; }
};

Recording record(ViewerRig &rig, ReplayServer &server, const QString &mode, double seconds)
{
    Recording r;
    if (!rig.chooseMode(mode))
        return r;
    spin(500);
    const QStringList before = filesIn(rig.saveFolder(), QStringLiteral("*.mp4"));
    const double cpu0 = processCpuSeconds() - server.cpuSeconds();
    const qint64 sent0 = server.framesSent();
    const qint64 skipped0 = server.framesSkipped();
    r.residentBefore = bench::residentBytes();
    rig.pressCapture();
    if (!rig.controller().isVideo()) {
        std::fprintf(stderr, "the %s recording did not start\n", qPrintable(mode));
        return r;
    }
    spin(int(seconds * 1000));
    r.offered = writer().frame() + writer().droppedFrames();
    r.dropped = writer().droppedFrames();
    r.highestQueueDepth = writer().highestQueueDepth();
    r.sent = server.framesSent() - sent0;
    r.skipped = server.framesSkipped() - skipped0;
    r.residentDuring = bench::residentBytes();
    rig.pressCapture();
    const bool finished =
        spinUntil([] { return !writer().isRecording() && writer().finishingCount() == 0; }, 120000);
    r.cpuSeconds = processCpuSeconds() - server.cpuSeconds() - cpu0;
    if (finished) {
        spin(2000);
        r.residentAfter = bench::residentBytes();
        r.frameMemoryAfter = writer().frameMemoryBytes();
    }
    QStringList after = filesIn(rig.saveFolder(), QStringLiteral("*.mp4"));
    for (const QString &name : before)
        after.removeAll(name);
    if (finished && after.size() == 1) {
        r.written = countVideoPackets(QDir(rig.saveFolder()).filePath(after.first()));
        r.ok = r.written >= 0;
    }
    return r;
}

QStringList x264Arguments(const EncoderPreset &preset)
{
    QStringList args{QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"),
                     QString::fromLatin1(preset.preset)};
    if (preset.tune && *preset.tune)
        args << QStringLiteral("-tune") << QString::fromLatin1(preset.tune);
    if (preset.crf > 0)
        args << QStringLiteral("-crf") << QString::number(preset.crf);
    return args << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p");
}

std::vector<QByteArray> framesOfTag(int tag)
{
    JpegDecoder decoder;
    const QImage picture = decoder.decode(simulatorFrame(tag));
    if (picture.isNull())
        return {};
    return stampedFrames(picture, kJpegQuality, 0);
}

} // namespace

int main(int argc, char **argv)
{
    bench::prepareEnvironment();
    QApplication app(argc, argv);
    bench::quietViewerLog();
    QCommandLineParser parser;
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Seconds per recording."),
                                           QStringLiteral("S"), QStringLiteral("30"));
    const QCommandLineOption ffmpegSecondsOption(QStringLiteral("ffmpeg-seconds"),
                                                 QStringLiteral("Seconds of ffmpeg per size."),
                                                 QStringLiteral("S"), QStringLiteral("20"));
    const QCommandLineOption pressesOption(QStringLiteral("presses"),
                                           QStringLiteral("Photos taken at 3840x2160."),
                                           QStringLiteral("N"), QStringLiteral("9"));
    const QCommandLineOption noRecording(QStringLiteral("no-recording"),
                                         QStringLiteral("Leave out the recordings."));
    const QCommandLineOption noPhoto(QStringLiteral("no-photo"),
                                     QStringLiteral("Leave out the photos."));
    const CommonOptions common;
    parser.addOptions({secondsOption, ffmpegSecondsOption, pressesOption, noRecording, noPhoto});
    parser.addOptions(common.all());
    parser.process(app);
    const double seconds = std::max(1.0, parser.value(secondsOption).toDouble());
    const double ffmpegSeconds = std::max(1.0, parser.value(ffmpegSecondsOption).toDouble());
    const QList<int> tags = tagsOrAll(parser.value(common.tags));

    Results results(QStringLiteral("capture"));
    results.setMode(parser.isSet(common.quick) ? QStringLiteral("quick") : QStringLiteral("full"));
    QTemporaryDir scratch;

    if (!parser.isSet(noRecording)) {
        std::printf("Recording, %.0f s per mode with the live view running; ffmpeg %.0f s\n",
                    seconds, ffmpegSeconds);
        std::printf("%-10s %-10s %3s %6s %7s %7s %7s %8s %9s %7s | %-24s %7s %9s %7s\n", "size",
                    "mode", "fps", "sent", "skipped", "offered", "written", "dropped", "cpu ms/f",
                    "queue", "x264 preset/tune", "frames", "cpu ms/f", "x ffmpeg");
        QJsonArray rows, raw;
        int videoLosses = 0, videoRuns = 0;
        QStringList lossy;
        for (int tag : tags) {
            const resolution::Entry *entry = resolution::entryForTag(tag);
            if (!entry)
                continue;
            const QSize size(entry->width, entry->height);
            const QString sizeText = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
            const int fps = ViewController::recordingFps(kVideoMode, QSizeF(size));
            const int capacity =
                ImageWritingVideoTool::queueCapacityFor(size.width(), size.height());
            const std::vector<QByteArray> frames = framesOfTag(tag);
            if (frames.empty()) {
                std::fprintf(stderr, "camera-box-sim gave no %s frame (set ORBILENS_SIM)\n",
                             qPrintable(sizeText));
                return 1;
            }
            Recording video, lapse;
            {
                ReplayServer server(frames, fps);
                ViewerRig rig(server.baseUrl());
                if (!rig.waitForFrameSize(size, 20000)) {
                    std::fprintf(stderr, "no %s frames shown\n", qPrintable(sizeText));
                    return 1;
                }
                video = record(rig, server, QStringLiteral("Video"), seconds);
                lapse = record(rig, server, QStringLiteral("Time-lapse"), seconds);
            }
            const EncoderPreset preset = EncoderPreset::forFrameSize(size.width(), size.height());
            const QStringList x264 = x264Arguments(preset);
            FfmpegRun ffmpeg;
            int ffmpegWritten = -1;
            if (!parser.isSet(common.noFfmpeg)) {
                ReplayServer server(frames, fps);
                const QString out = scratch.filePath(sizeText + QStringLiteral(".mp4"));
                ffmpeg = runFfmpeg(QStringList{QStringLiteral("-f"), QStringLiteral("mpjpeg"),
                                               QStringLiteral("-i"), server.streamUrl()} +
                                       x264 +
                                       QStringList{QStringLiteral("-fps_mode"),
                                                   QStringLiteral("passthrough"),
                                                   QStringLiteral("-y"), out},
                                   ffmpegSeconds);
                ffmpegWritten = countVideoPackets(out);
            }
            const QString x264Text =
                QString::fromLatin1(preset.preset) +
                (preset.tune && *preset.tune ? QStringLiteral("/") + QLatin1String(preset.tune)
                                             : QString()) +
                (preset.crf > 0 ? QStringLiteral(" crf %1").arg(preset.crf) : QString());
            for (const auto &[mode, r] : {std::pair{QStringLiteral("video"), video},
                                          std::pair{QStringLiteral("time-lapse"), lapse}}) {
                const bool isVideo = mode == QStringLiteral("video");
                const bool withFfmpeg = isVideo && ffmpeg.ok;
                const double ffmpegMs =
                    withFfmpeg ? 1000 * ffmpeg.cpuSeconds / std::max(1, ffmpegWritten) : 0;
                const double x = ffmpegMs > 0 ? r.cpuMsPerFrame() / ffmpegMs : 0;
                const QString queue =
                    QStringLiteral("%1/%2").arg(r.highestQueueDepth).arg(capacity);
                std::printf(
                    "%-10s %-10s %3d %6lld %7lld %7lld %7d %8lld %9.2f %7s | %-24s %7d %9.2f "
                    "%7.2f\n",
                    qPrintable(sizeText), qPrintable(mode), isVideo ? fps : 24, r.sent, r.skipped,
                    r.offered, r.written, r.dropped, r.cpuMsPerFrame(), qPrintable(queue),
                    isVideo ? qPrintable(x264Text) : "", withFfmpeg ? ffmpegWritten : 0, ffmpegMs,
                    x);
                std::printf("%-10s %-10s resident MB: %.0f before, %.0f during, %.0f 2 s after "
                            "(writer's frame memory then %.0f MB)\n",
                            "", qPrintable(mode), double(r.residentBefore) / 1e6,
                            double(r.residentDuring) / 1e6, double(r.residentAfter) / 1e6,
                            double(r.frameMemoryAfter) / 1e6);
                std::fflush(stdout);
                const QJsonValue none(QStringLiteral("-"));
                rows.append(QJsonArray{sizeText, mode, isVideo ? fps : 24, r.sent, r.skipped,
                                       r.offered, r.written, r.dropped, x264Text,
                                       rounded(r.cpuMsPerFrame(), 2), queue,
                                       withFfmpeg ? QJsonValue(ffmpegWritten) : none,
                                       withFfmpeg ? QJsonValue(rounded(ffmpegMs, 2)) : none,
                                       withFfmpeg ? QJsonValue(rounded(x, 2)) : none});
                raw.append(QJsonObject{{"size", sizeText},
                                       {"mode", mode},
                                       {"streamFps", fps},
                                       {"seconds", seconds},
                                       {"framesSent", r.sent},
                                       {"framesSkippedByServer", r.skipped},
                                       {"framesOffered", r.offered},
                                       {"framesWritten", r.written},
                                       {"framesDropped", r.dropped},
                                       {"highestQueueDepth", r.highestQueueDepth},
                                       {"queueCapacity", capacity},
                                       {"cpuSeconds", r.cpuSeconds},
                                       {"completed", r.ok},
                                       {"x264", isVideo ? x264.join(QLatin1Char(' ')) : QString()},
                                       {"ffmpegFramesWritten", withFfmpeg ? ffmpegWritten : -1},
                                       {"ffmpegCpuSeconds", withFfmpeg ? ffmpeg.cpuSeconds : 0},
                                       {"ffmpegWallSeconds", withFfmpeg ? ffmpeg.wallSeconds : 0}});
            }
            ++videoRuns;
            // Lost: refused by the writer, missing from the file, or never
            // taken from the server in time.
            const qint64 lost =
                video.dropped + std::max<qint64>(0, video.offered - video.written) + video.skipped;
            if (!video.ok || lost > 0 || video.written <= 0) {
                ++videoLosses;
                lossy << QStringLiteral("%1 (%2 lost)").arg(sizeText).arg(lost);
            }
        }
        results.addTable(
            QStringLiteral("Recording"),
            {QStringLiteral("size"), QStringLiteral("mode"), QStringLiteral("fps"),
             QStringLiteral("frames sent"), QStringLiteral("skipped by server"),
             QStringLiteral("offered"), QStringLiteral("written"), QStringLiteral("dropped"),
             QStringLiteral("x264 preset/tune"), QStringLiteral("CPU ms per written frame"),
             QStringLiteral("encoder queue max"), QStringLiteral("ffmpeg frames"),
             QStringLiteral("ffmpeg CPU ms/frame"), QStringLiteral("viewer / ffmpeg")},
            rows,
            QStringLiteral("The stream comes at the size's video rate in both modes; time-lapse "
                           "takes a frame every 0.625 s and plays at 24 fps. The viewer's CPU "
                           "includes its live view (receive, decode, show). ffmpeg: `ffmpeg -f "
                           "mpjpeg -i URL` with the viewer's x264 settings, -fps_mode "
                           "passthrough. Encoder queue max: the most frames the recording's queue "
                           "held at once, of its capacity; a full queue drops the next frame."));
        results.setRaw(QStringLiteral("recordings"), raw);
        if (videoRuns > 0)
            results.target(
                QStringLiteral("zero dropped frames in video mode at every size"), videoLosses == 0,
                videoLosses == 0
                    ? QStringLiteral("%1 sizes, none lost").arg(videoRuns)
                    : QStringLiteral("lost at %1").arg(lossy.join(QStringLiteral(", "))));
    }

    if (!parser.isSet(noPhoto)) {
        const int presses = std::max(1, parser.value(pressesOption).toInt());
        const QSize size(3840, 2160);
        const int tag = resolution::tagForSize(size.width(), size.height());
        const int fps = ViewController::recordingFps(kVideoMode, QSizeF(size));
        const std::vector<QByteArray> frames = framesOfTag(tag);
        ReplayServer server(frames, fps);
        ViewerRig rig(server.baseUrl());
        if (frames.empty() || !rig.waitForFrameSize(size, 20000)) {
            std::fprintf(stderr, "no 3840x2160 frames shown\n");
            return 1;
        }
        std::vector<double> ms;
        for (int i = 0; i < presses; ++i) {
            spin(700);
            const qsizetype before = filesIn(rig.saveFolder(), QStringLiteral("*.jpg")).size();
            const Clock::time_point pressed = Clock::now();
            rig.pressCapture();
            // The viewer writes the photo on its main thread, so once it is
            // listed here it is complete.
            const bool saved = spinUntil(
                [&] { return filesIn(rig.saveFolder(), QStringLiteral("*.jpg")).size() > before; },
                10000, 1);
            if (saved)
                ms.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - pressed).count());
        }
        const double med = median(ms);
        std::printf("Photo at 3840x2160 (stream at %d fps): press to file on disk, median %.1f ms "
                    "over %zu presses (min %.1f, max %.1f)\n",
                    fps, med, ms.size(), ms.empty() ? 0 : *std::min_element(ms.begin(), ms.end()),
                    ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()));
        QJsonArray all;
        for (double m : ms)
            all.append(rounded(m, 2));
        results.addTable(QStringLiteral("Photo"),
                         {QStringLiteral("size"), QStringLiteral("stream fps"),
                          QStringLiteral("presses"), QStringLiteral("press to file, median ms"),
                          QStringLiteral("min ms"), QStringLiteral("max ms")},
                         QJsonArray{QJsonArray{
                             QStringLiteral("3840x2160"), fps, int(ms.size()), rounded(med, 1),
                             rounded(ms.empty() ? 0 : *std::min_element(ms.begin(), ms.end()), 1),
                             rounded(ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()), 1)}},
                         QStringLiteral("A press asks for the next frame, so up to one frame "
                                        "interval (%1 ms) of it is waiting for that frame.")
                             .arg(1000 / fps));
        results.setRaw(QStringLiteral("photoPressToFileMs"), all);
    }

    if (!results.write(parser.value(common.json))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(parser.value(common.json)));
        return 1;
    }
    return 0;
}
