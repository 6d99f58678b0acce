// Live view: the real window, offscreen, showing frames of the simulator's
// sky at every size of the camera box, sent by a replay server as fast as the
// viewer takes them and at a fixed rate. For each case it prints the frames
// shown per second, the size the preview decoded them at, the CPU per shown
// frame (user + system of this process, without the server's threads), the
// latency from a frame's last byte going
// into the server's socket to the preview having painted it (median and 99th
// percentile), and next to it the same stream through `ffmpeg -f null` and
// libjpeg-turbo's full-size decode of the same frames, with the ratios. A
// long run then shows 10,000 frames at one size and prints the resident
// memory and latency at its start and end.
//
//   bench_live_view [--seconds S] [--tags 8,5,1] [--long-frames N] [--long-tag T] [--long-fps N]
//                   [--no-ffmpeg] [--json FILE] [--quick]

#include "BenchSupport.h"
#include "ViewerRig.h"

#include "platform/PreviewView.h"
#include "stream/JpegDecoder.h"
#include "viewer/ResolutionTable.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>

#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>

using namespace bench;

namespace
{

constexpr int kJpegQuality = 85; // the camera box's
constexpr qint64 kReplayBytes = 32 << 20;

struct Shown {
    qint64 sequence;
    Clock::time_point paintedAt;
};

struct ViewRun {
    double seconds = 0;
    qint64 sent = 0;
    qint64 skipped = 0;
    qint64 shown = 0;
    double cpuSeconds = 0;
    std::vector<double> latencyMs; // in the order shown
    qint64 residentStart = 0;
    qint64 residentEnd = 0;
    QSize decoded; // the size the preview was given the last frame at
    bool ok = false;
    double shownFps() const { return seconds > 0 ? double(shown) / seconds : 0; }
    double sentFps() const { return seconds > 0 ? double(sent) / seconds : 0; }
    double cpuMsPerFrame() const { return shown > 0 ? 1000 * cpuSeconds / double(shown) : 0; }
};

// Shows the server's stream in the real window for seconds, or until
// frameLimit frames were shown when it is above 0.
ViewRun runViewer(ReplayServer &server, QSize size, double seconds, qint64 frameLimit)
{
    ViewRun run;
    ViewerRig rig(server.baseUrl());
    if (!rig.waitForFrameSize(size, 20000)) {
        std::fprintf(stderr, "no %dx%d frames shown\n", size.width(), size.height());
        return run;
    }
    platform::PreviewView &preview = rig.preview();
    const qint64 frames = server.frameCount();
    qint64 lastSequence = -1;
    int lastId = -1;
    std::vector<Shown> shown;
    shown.reserve(size_t(std::max<qint64>(frameLimit, 4096)));
    // Painted: which frame is it? Frames come in order, so it is the first
    // after the last one painted that carries this number.
    const auto connection =
        QObject::connect(&preview, &platform::PreviewView::painted, &preview, [&] {
            const Clock::time_point now = Clock::now();
            const int id = readFrameId(preview.image());
            if (id < 0 || id == lastId)
                return; // a repaint of the same frame
            lastId = id;
            run.decoded = preview.image().size();
            const qint64 next = lastSequence + 1;
            lastSequence = next + ((id - next) % frames + frames) % frames;
            shown.push_back({lastSequence, now});
        });
    spin(1000); // warm up: first frames, allocations, caches
    shown.clear();
    run.residentStart = bench::residentBytes();
    const qint64 sent0 = server.framesSent();
    const qint64 skipped0 = server.framesSkipped();
    const double cpu0 = processCpuSeconds() - server.cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    if (frameLimit > 0) {
        qint64 reported = 0;
        while (qint64(shown.size()) < frameLimit && timer.elapsed() < 3600 * 1000) {
            spin(50);
            if (qint64(shown.size()) >= reported + 2000) {
                reported = qint64(shown.size()) / 2000 * 2000;
                std::printf("  %lld frames shown, resident %.1f MB\n", reported,
                            double(bench::residentBytes()) / 1e6);
                std::fflush(stdout);
            }
        }
    } else {
        spin(int(seconds * 1000));
    }
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    run.cpuSeconds = processCpuSeconds() - server.cpuSeconds() - cpu0;
    run.sent = server.framesSent() - sent0;
    run.skipped = server.framesSkipped() - skipped0;
    run.residentEnd = bench::residentBytes();
    QObject::disconnect(connection);
    run.shown = qint64(shown.size());
    for (const Shown &s : shown) {
        Clock::time_point sentAt;
        if (server.sentAt(s.sequence, &sentAt))
            run.latencyMs.push_back(
                std::chrono::duration<double, std::milli>(s.paintedAt - sentAt).count());
    }
    run.ok = run.shown > 0;
    return run;
}

// The fixed rate of each size: 60 and 30 frames per second where the targets
// ask for them, elsewhere the rate the viewer records that size at.
double fixedRate(const resolution::Entry &e)
{
    if (e.width == 1280 && e.height == 720)
        return 60;
    if (e.width == 1920 && e.height == 1080)
        return 30;
    if (e.width <= 1920 && e.height <= 1080)
        return 20;
    return e.width <= 2592 && e.height <= 1944 ? 10 : 8;
}

// "976x549 (1/2)": the size the live view was given the frames at, and the
// inverse DCT's scale they were decoded at before the decoder shrank them to
// the view.
QString decodedText(QSize decoded, QSize frame)
{
    if (decoded.isEmpty())
        return QStringLiteral("-");
    const QSize scaled = JpegDecoder::decodedSize(frame, decoded);
    const int denominator = int(std::lround(double(frame.width()) / scaled.width()));
    return QStringLiteral("%1x%2 (%3)")
        .arg(decoded.width())
        .arg(decoded.height())
        .arg(denominator <= 1 ? QStringLiteral("full") : QStringLiteral("1/%1").arg(denominator));
}

QString ms(double value)
{
    return QString::number(value, 'f', 2);
}

} // namespace

int main(int argc, char **argv)
{
    bench::prepareEnvironment();
    QApplication app(argc, argv);
    bench::quietViewerLog();
    QCommandLineParser parser;
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Measured seconds per case."),
                                           QStringLiteral("S"), QStringLiteral("3"));
    const QCommandLineOption longFramesOption(QStringLiteral("long-frames"),
                                              QStringLiteral("Frames of the long run (0: none)."),
                                              QStringLiteral("N"), QStringLiteral("10000"));
    const QCommandLineOption longTagOption(QStringLiteral("long-tag"),
                                           QStringLiteral("Resolution tag of the long run."),
                                           QStringLiteral("T"), QStringLiteral("8"));
    const QCommandLineOption longFpsOption(
        QStringLiteral("long-fps"),
        QStringLiteral("Frames per second of the long run (0: as fast as the viewer takes them)."),
        QStringLiteral("N"), QStringLiteral("60"));
    const CommonOptions common;
    parser.addOptions({secondsOption, longFramesOption, longTagOption, longFpsOption});
    parser.addOptions(common.all());
    parser.process(app);
    const double seconds = std::max(1.0, parser.value(secondsOption).toDouble());
    const qint64 longFrames = parser.value(longFramesOption).toLongLong();
    const QList<int> tags = tagsOrAll(parser.value(common.tags));

    Results results(QStringLiteral("live view"));
    results.setMode(parser.isSet(common.quick) ? QStringLiteral("quick") : QStringLiteral("full"));
    QJsonArray rows, raw;
    std::printf("Live view, %.0f s per case, JPEG quality %d, window 1280x780\n", seconds,
                kJpegQuality);
    std::printf("%-10s %-6s %-15s %8s %8s %9s %9s %9s | %9s %9s %8s | %9s %8s\n", "size", "sent",
                "given", "sent/s", "shown/s", "cpu ms/f", "lat med", "lat p99", "ffmpeg ms",
                "ffmpeg/s", "x ffmpeg", "turbo ms", "x turbo");

    struct Figures {
        double turboMs = 0;
        ViewRun fast;
        ViewRun fixed;
        double fixedFfmpegMs = 0; // ffmpeg -f null on the same stream at the table rate
        double rate = 0;
    };
    std::map<int, Figures> byTag;
    for (int tag : tags) {
        const resolution::Entry *entry = resolution::entryForTag(tag);
        if (!entry)
            continue;
        const QSize size(entry->width, entry->height);
        JpegDecoder decoder;
        const QImage picture = decoder.decode(simulatorFrame(tag));
        if (picture.size() != size) {
            std::fprintf(stderr, "camera-box-sim gave no %dx%d frame (set ORBILENS_SIM)\n",
                         size.width(), size.height());
            return 1;
        }
        const std::vector<QByteArray> frames = stampedFrames(picture, kJpegQuality, kReplayBytes);
        Figures &f = byTag[tag];
        f.rate = fixedRate(*entry);
        // The reference decode before, between and after the two cases, its
        // median taken: on a shared machine one measurement moves by tens of
        // per cent from one minute to the next, and the cases with it.
        std::vector<double> turbo{turboDecodeMs(frames, 40)};
        struct Case {
            double rate;
            ViewRun run;
            FfmpegRun ffmpeg;
        } cases[] = {{0.0, {}, {}}, {f.rate, {}, {}}};
        for (Case &c : cases) {
            {
                ReplayServer server(frames, c.rate);
                c.run = runViewer(server, size, seconds, 0);
            }
            if (!parser.isSet(common.noFfmpeg)) {
                ReplayServer server(frames, c.rate);
                c.ffmpeg =
                    runFfmpeg({QStringLiteral("-f"), QStringLiteral("mpjpeg"), QStringLiteral("-i"),
                               server.streamUrl(), QStringLiteral("-f"), QStringLiteral("null"),
                               QStringLiteral("-")},
                              seconds);
            }
            turbo.push_back(turboDecodeMs(frames, 40));
        }
        f.turboMs = median(turbo);
        for (const Case &c : cases) {
            const double rate = c.rate;
            const ViewRun &run = c.run;
            const FfmpegRun &ffmpeg = c.ffmpeg;
            const QString sent =
                rate > 0 ? QStringLiteral("%1/s").arg(rate) : QStringLiteral("max");
            const double medianMs = median(run.latencyMs);
            const double p99Ms = percentile(run.latencyMs, 99);
            const double xFfmpeg = ffmpeg.ok ? run.cpuMsPerFrame() / ffmpeg.cpuMsPerFrame() : 0;
            const double xTurbo = f.turboMs > 0 ? run.cpuMsPerFrame() / f.turboMs : 0;
            const QString decoded = decodedText(run.decoded, size);
            std::printf("%4dx%-5d %-6s %-15s %8.1f %8.1f %9.2f %9.2f %9.2f | %9.2f %9.1f %8.2f | "
                        "%9.2f %8.2f\n",
                        size.width(), size.height(), qPrintable(sent), qPrintable(decoded),
                        run.sentFps(), run.shownFps(), run.cpuMsPerFrame(), medianMs, p99Ms,
                        ffmpeg.cpuMsPerFrame(), ffmpeg.fps(), xFfmpeg, f.turboMs, xTurbo);
            std::fflush(stdout);
            const QString sizeText = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
            rows.append(QJsonArray{
                sizeText, sent, decoded, rounded(run.sentFps(), 1), rounded(run.shownFps(), 1),
                rounded(run.cpuMsPerFrame(), 2), rounded(medianMs, 2), rounded(p99Ms, 2),
                ffmpeg.ok ? QJsonValue(rounded(ffmpeg.cpuMsPerFrame(), 2))
                          : QJsonValue(QStringLiteral("-")),
                ffmpeg.ok ? QJsonValue(rounded(xFfmpeg, 2)) : QJsonValue(QStringLiteral("-")),
                rounded(f.turboMs, 2), rounded(xTurbo, 2)});
            raw.append(QJsonObject{{"size", sizeText},
                                   {"sentRate", rate},
                                   {"seconds", run.seconds},
                                   {"framesSent", run.sent},
                                   {"framesSkippedByServer", run.skipped},
                                   {"framesShown", run.shown},
                                   {"cpuSeconds", run.cpuSeconds},
                                   {"latencyMedianMs", medianMs},
                                   {"latencyP99Ms", p99Ms},
                                   {"ffmpegFrames", ffmpeg.frames},
                                   {"ffmpegCpuSeconds", ffmpeg.cpuSeconds},
                                   {"ffmpegWallSeconds", ffmpeg.wallSeconds},
                                   {"turboDecodeMs", f.turboMs},
                                   {"decodedWidth", run.decoded.width()},
                                   {"decodedHeight", run.decoded.height()},
                                   {"replayFrames", int(frames.size())}});
            (rate > 0 ? f.fixed : f.fast) = run;
            if (rate > 0 && ffmpeg.ok)
                f.fixedFfmpegMs = ffmpeg.cpuMsPerFrame();
        }
    }
    results.addTable(
        QStringLiteral("Live view"),
        {QStringLiteral("size"), QStringLiteral("sent"),
         QStringLiteral("picture given (decoded at)"), QStringLiteral("sent fps"),
         QStringLiteral("shown fps"), QStringLiteral("CPU ms per shown frame"),
         QStringLiteral("latency median ms"), QStringLiteral("latency p99 ms"),
         QStringLiteral("ffmpeg -f null CPU ms/frame"), QStringLiteral("viewer / ffmpeg"),
         QStringLiteral("libjpeg-turbo decode ms"), QStringLiteral("viewer / libjpeg-turbo")},
        rows,
        QStringLiteral("\"max\": the server sends as fast as the viewer takes the frames; CPU is "
                       "user + system of the viewer's process without the server's threads; "
                       "latency runs from a frame's last byte going into the server's socket to "
                       "the preview's paint of it."));
    results.setRaw(QStringLiteral("cases"), raw);

    // The targets.
    for (const auto &[w, h, most] :
         {std::tuple{3840, 2160, 1.0}, std::tuple{2592, 1944, 1.0}, std::tuple{1920, 1080, 1.5}}) {
        const int tag = resolution::tagForSize(w, h);
        if (!byTag.contains(tag))
            continue;
        // Met both when frames come as fast as the viewer takes them and at
        // the table's rate.
        const Figures &f = byTag[tag];
        const double cpu = f.fast.cpuMsPerFrame();
        const double fixedCpu = f.fixed.cpuMsPerFrame();
        results.target(
            QStringLiteral("CPU per shown frame <= %1 x libjpeg-turbo decode at %2x%3")
                .arg(most, 0, 'f', 1)
                .arg(w)
                .arg(h),
            f.fast.ok && f.fixed.ok && f.turboMs > 0 && cpu <= most * f.turboMs &&
                fixedCpu <= most * f.turboMs,
            QStringLiteral("sent as fast as taken: %1 ms vs %2 ms (x%3); at %4 fps: %5 ms (x%6)")
                .arg(ms(cpu), ms(f.turboMs), ms(f.turboMs > 0 ? cpu / f.turboMs : 0))
                .arg(f.rate)
                .arg(ms(fixedCpu), ms(f.turboMs > 0 ? fixedCpu / f.turboMs : 0)));
    }
    for (const auto &[w, h, rate] : {std::tuple{1280, 720, 60.0}, std::tuple{1920, 1080, 30.0}}) {
        const int tag = resolution::tagForSize(w, h);
        if (!byTag.contains(tag))
            continue;
        const ViewRun &run = byTag[tag].fixed;
        // Every frame sent is shown: a frame or two may be in flight at the end.
        const bool every =
            run.ok && run.skipped == 0 && run.shown + 2 >= run.sent && run.sentFps() >= 0.97 * rate;
        results.target(QStringLiteral("every frame shown at %1x%2, %3 fps").arg(w).arg(h).arg(rate),
                       every,
                       QStringLiteral("%1 sent, %2 shown, %3 skipped by the server (%4 fps shown)")
                           .arg(run.sent)
                           .arg(run.shown)
                           .arg(run.skipped)
                           .arg(run.shownFps(), 0, 'f', 1));
        const double interval = 1000 / rate;
        const double med = median(run.latencyMs);
        results.target(QStringLiteral("median latency < one frame interval at %1x%2, %3 fps")
                           .arg(w)
                           .arg(h)
                           .arg(rate),
                       run.ok && !run.latencyMs.empty() && med < interval,
                       QStringLiteral("%1 ms (99th percentile %2 ms) vs %3 ms")
                           .arg(ms(med), ms(percentile(run.latencyMs, 99)), ms(interval)));
    }

    // At the table's rates the viewer does no more than ffmpeg's decode.
    if (!parser.isSet(common.noFfmpeg) && !byTag.empty()) {
        QStringList over;
        bool all = true;
        for (const auto &[tag, f] : byTag) {
            const bool within =
                f.fixed.ok && f.fixedFfmpegMs > 0 && f.fixed.cpuMsPerFrame() <= f.fixedFfmpegMs;
            all = all && within;
            if (!within) {
                const resolution::Entry *e = resolution::entryForTag(tag);
                over << QStringLiteral("%1x%2 (%3 vs %4 ms)")
                            .arg(e->width)
                            .arg(e->height)
                            .arg(ms(f.fixed.cpuMsPerFrame()), ms(f.fixedFfmpegMs));
            }
        }
        results.target(QStringLiteral("CPU per shown frame <= ffmpeg -f null at the table rates"),
                       all,
                       all ? QStringLiteral("%1 sizes").arg(byTag.size())
                           : QStringLiteral("over at ") + over.join(QStringLiteral(", ")));
    }

    // The long run.
    const resolution::Entry *longEntry =
        resolution::entryForTag(parser.value(longTagOption).toInt());
    if (longFrames > 0 && longEntry) {
        const QSize size(longEntry->width, longEntry->height);
        const double longFps = std::max(0.0, parser.value(longFpsOption).toDouble());
        const QString pace = longFps > 0 ? QStringLiteral("%1 fps sent").arg(longFps)
                                         : QStringLiteral("sent as fast as the viewer takes them");
        std::printf("Long run: %lld frames at %dx%d, %s\n", longFrames, size.width(), size.height(),
                    qPrintable(pace));
        JpegDecoder decoder;
        const std::vector<QByteArray> frames = stampedFrames(
            decoder.decode(simulatorFrame(longEntry->tag)), kJpegQuality, kReplayBytes);
        ReplayServer server(frames, longFps);
        const ViewRun run = runViewer(server, size, 0, longFrames);
        const size_t n = run.latencyMs.size();
        const size_t window = std::min<size_t>(1000, n / 2);
        const std::vector<double> first(run.latencyMs.begin(),
                                        run.latencyMs.begin() + qsizetype(window));
        const std::vector<double> last(run.latencyMs.end() - qsizetype(window),
                                       run.latencyMs.end());
        const double firstMs = median(first), lastMs = median(last);
        const double growthMb = double(run.residentEnd - run.residentStart) / 1e6;
        std::printf("  %lld frames in %.1f s (%.1f fps), %.2f ms CPU per frame; resident %.1f MB "
                    "-> %.1f MB; latency median first %zu %.2f ms, last %zu %.2f ms\n",
                    run.shown, run.seconds, run.shownFps(), run.cpuMsPerFrame(),
                    double(run.residentStart) / 1e6, double(run.residentEnd) / 1e6, window, firstMs,
                    window, lastMs);
        const QString sizeText = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
        results.addTable(
            QStringLiteral("Long run"),
            {QStringLiteral("size"), QStringLiteral("sent"), QStringLiteral("frames shown"),
             QStringLiteral("shown fps"), QStringLiteral("CPU ms per frame"),
             QStringLiteral("resident MB at start"), QStringLiteral("at end"),
             QStringLiteral("latency median, first %1 frames (ms)").arg(window),
             QStringLiteral("last %1 frames (ms)").arg(window)},
            QJsonArray{QJsonArray{sizeText, pace, run.shown, rounded(run.shownFps(), 1),
                                  rounded(run.cpuMsPerFrame(), 2),
                                  rounded(double(run.residentStart) / 1e6, 1),
                                  rounded(double(run.residentEnd) / 1e6, 1), rounded(firstMs, 2),
                                  rounded(lastMs, 2)}});
        results.setRaw(QStringLiteral("longRun"),
                       QJsonObject{{"size", sizeText},
                                   {"sentRate", longFps},
                                   {"framesSent", run.sent},
                                   {"framesSkippedByServer", run.skipped},
                                   {"framesShown", run.shown},
                                   {"seconds", run.seconds},
                                   {"cpuSeconds", run.cpuSeconds},
                                   {"residentStartBytes", run.residentStart},
                                   {"residentEndBytes", run.residentEnd},
                                   {"latencyFirstMedianMs", firstMs},
                                   {"latencyLastMedianMs", lastMs}});
        results.target(
            QStringLiteral("resident memory grows < 5 MB over %1 frames").arg(longFrames),
            run.shown >= longFrames && growthMb < 5,
            QStringLiteral("%1 MB over %2 frames").arg(growthMb, 0, 'f', 2).arg(run.shown));
        // Not growing: the last thousand no slower than the first, give or
        // take a tenth or a millisecond, whichever is more.
        results.target(QStringLiteral("latency does not grow over %1 frames").arg(longFrames),
                       window > 0 && run.shown >= longFrames &&
                           lastMs <= firstMs + std::max(1.0, 0.1 * firstMs),
                       QStringLiteral("median %1 ms (first %2) -> %3 ms (last %2)")
                           .arg(ms(firstMs))
                           .arg(window)
                           .arg(ms(lastMs)));
    }
    if (!results.write(parser.value(common.json))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(parser.value(common.json)));
        return 1;
    }
    return 0;
}
