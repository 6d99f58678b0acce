// Records every resolution of the camera box at its recording frame rate, in
// real time, while the main thread also decodes and scales each frame the way
// the viewer does, and prints the frames offered, written and dropped and the
// CPU per frame. Then encodes the same frames with the ffmpeg command line
// (libx264, same preset and tuning) for comparison.
//
//   bench_video_writer [--seconds S] [--only WxH] [--preset P --tune T [--crf N]]
//                      [--noise LEVELS] [--no-viewer-load] [--no-ffmpeg]
//
// The frames are a star field with sensor noise of up to +-LEVELS (default
// 7, a noisy gain-up picture; the noise is most of the encoder's work).
//
// Columns: cpu/frame is the process CPU of the recording (conversion,
// colour conversion, encoding, muxing) per written frame, without the
// viewer's own decoding and scaling, which viewer/frm gives; main/frm is the
// main thread's CPU inside writeImage and worst call its longest wall time.

#include "capture/EncoderPreset.h"
#include "capture/ImageWritingVideoTool.h"
#include "stream/JpegDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{

struct Resolution {
    int width;
    int height;
};

// The camera box's resolutions, by tag.
const Resolution kResolutions[] = {{640, 480},   {3840, 2160}, {2592, 1944}, {2688, 1512},
                                   {2048, 1536}, {1920, 1080}, {1600, 1200}, {1280, 960},
                                   {1280, 720},  {960, 540},   {800, 600},   {640, 360}};

// The recording frame rate the viewer chooses in video mode.
int recordingFps(int w, int h)
{
    if (w <= 1920 && h <= 1080)
        return 20;
    if (w <= 2592 && h <= 1944)
        return 10;
    if (w <= 3840 && h <= 3104)
        return 8;
    return 24;
}

// The distinct frames a run cycles through: with one reference frame the
// encoder never sees a repeat it could copy.
constexpr int kDistinctFrames = 8;

double cpuSeconds(int who)
{
    rusage usage = {};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double threadCpuSeconds()
{
    timespec now = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

quint32 xorshift(quint32 &state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// A night sky: a faint glow, stars that drift a little from frame to frame,
// and sensor noise everywhere, so that the encoder has real work.
QImage starField(int width, int height, int index, int noise)
{
    QImage image(width, height, QImage::Format_RGB32);
    quint32 state = 0x9e3779b9u + quint32(index) * 7919u;
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        const int glow = 10 + 14 * y / height;
        for (int x = 0; x < width; ++x) {
            // Sensor noise: the sum of two uniform draws, up to +-noise levels.
            const quint32 bits = xorshift(state);
            const int n =
                int(bits % quint32(noise + 1)) + int((bits >> 16) % quint32(noise + 1)) - noise;
            const int v = std::clamp(glow + n, 0, 255);
            row[x] = qRgb(v, v, std::min(255, v + 4));
        }
    }
    quint32 stars = 12345u; // the same stars in every frame
    const int count = width * height / 1500;
    const double drift = 0.6 * index;
    for (int s = 0; s < count; ++s) {
        const double cx = (xorshift(stars) % quint32(width)) + drift;
        const double cy = (xorshift(stars) % quint32(height)) + 0.3 * drift;
        const double peak = 60 + (xorshift(stars) % 195);
        const double sigma = 0.6 + (xorshift(stars) % 100) / 60.0;
        const int r = int(std::ceil(3 * sigma));
        for (int y = int(cy) - r; y <= int(cy) + r; ++y) {
            if (y < 0 || y >= height)
                continue;
            auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = int(cx) - r; x <= int(cx) + r; ++x) {
                if (x < 0 || x >= width)
                    continue;
                const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                const int add = int(peak * std::exp(-d2 / (2 * sigma * sigma)));
                const QRgb p = row[x];
                row[x] = qRgb(std::min(255, qRed(p) + add), std::min(255, qGreen(p) + add),
                              std::min(255, qBlue(p) + add));
            }
        }
    }
    return image;
}

QByteArray toJpeg(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

struct FileFacts {
    int packets = -1;
    double megabitsPerSecond = 0; // of the file's play time
    std::string profile = "?";
};

// What is in the file, read back with libavformat.
FileFacts readFile(const QString &path)
{
    FileFacts facts;
    AVFormatContext *input = nullptr;
    if (avformat_open_input(&input, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return facts;
    if (avformat_find_stream_info(input, nullptr) >= 0 && input->nb_streams > 0) {
        const AVCodecParameters *parameters = input->streams[0]->codecpar;
        const char *profile = avcodec_profile_name(parameters->codec_id, parameters->profile);
        facts.profile = std::string(profile ? profile : "?") + " " +
                        std::to_string(parameters->level / 10) + "." +
                        std::to_string(parameters->level % 10);
    }
    facts.packets = 0;
    qint64 bytes = 0;
    AVPacket *packet = av_packet_alloc();
    while (av_read_frame(input, packet) >= 0) {
        ++facts.packets;
        bytes += packet->size;
        av_packet_unref(packet);
    }
    if (input->duration > 0)
        facts.megabitsPerSecond = bytes * 8.0 / 1e6 / (double(input->duration) / AV_TIME_BASE);
    av_packet_free(&packet);
    avformat_close_input(&input);
    return facts;
}

struct WriterRun {
    int offered = 0;
    int accepted = 0;
    int written = 0;
    std::string profile;
    double megabitsPerSecond = 0;
    double writerCpuMsPerFrame = 0;
    double viewerCpuMsPerFrame = 0;
    double worstWriteImageMs = 0;
    double writeImageCpuMsPerFrame = 0; // main thread, inside writeImage
    bool completed = false;
};

WriterRun runWriter(const Resolution &r, int fps, int frames, const std::vector<QByteArray> &jpegs,
                    const QString &path, const ImageWritingVideoTool::Options &options,
                    bool viewerLoad)
{
    WriterRun run;
    JpegDecoder decoder;
    std::vector<QImage> decoded; // without the viewer's load, frames come decoded
    if (!viewerLoad)
        for (const QByteArray &jpeg : jpegs)
            decoded.push_back(decoder.decode(jpeg));

    ImageWritingVideoTool tool(options);
    std::mutex mutex;
    std::condition_variable finished;
    QString finishedPath;
    bool done = false;

    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    double viewerCpu = 0;
    double writeImageCpu = 0;
    tool.writePath(path, QSizeF(r.width, r.height), fps, {});
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        std::this_thread::sleep_until(start + i * std::chrono::nanoseconds(1'000'000'000 / fps));
        QImage frame;
        if (viewerLoad) {
            // What the viewer does with every frame before handing it over:
            // decode it and scale it down for the picture view.
            const double t0 = threadCpuSeconds();
            frame = decoder.decode(jpegs[size_t(i % kDistinctFrames)]);
            const QImage shown =
                frame.scaled(QSize(1280, 720), Qt::KeepAspectRatio, Qt::SmoothTransformation);
            viewerCpu += threadCpuSeconds() - t0;
            Q_UNUSED(shown);
        } else {
            frame = decoded[size_t(i % kDistinctFrames)];
        }
        const auto t0 = Clock::now();
        const double cpu0 = threadCpuSeconds();
        tool.writeImage(frame, [&](bool ok) { run.accepted += ok; });
        writeImageCpu += threadCpuSeconds() - cpu0;
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        run.worstWriteImageMs = std::max(run.worstWriteImageMs, ms);
        ++run.offered;
    }
    tool.writeCompleteBlock([&](const QString &result) {
        std::lock_guard lock(mutex);
        finishedPath = result;
        done = true;
        finished.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        finished.wait_for(lock, 120s, [&] { return done; });
    }
    const double cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    run.completed = done && finishedPath == path;
    const FileFacts facts = readFile(path);
    run.written = facts.packets;
    run.profile = facts.profile;
    run.megabitsPerSecond = facts.megabitsPerSecond;
    const int perFrame = std::max(1, run.written);
    run.writerCpuMsPerFrame = 1000 * (cpu - viewerCpu) / perFrame;
    run.viewerCpuMsPerFrame = 1000 * viewerCpu / std::max(1, run.offered);
    run.writeImageCpuMsPerFrame = 1000 * writeImageCpu / std::max(1, run.offered);
    return run;
}

struct FfmpegRun {
    bool ok = false;
    int frames = 0;
    double cpuMsPerFrame = 0;
    double framesPerSecond = 0; // as fast as it goes
    double megabitsPerSecond = 0;
};

// The ffmpeg command line on the same decoded frames, fed through a pipe as
// raw BGRA (QImage's RGB32 memory order).
FfmpegRun runFfmpeg(const Resolution &r, int fps, int frames, const std::vector<QByteArray> &jpegs,
                    const QString &path, const EncoderPreset &preset)
{
    FfmpegRun run;
    JpegDecoder decoder;
    std::vector<QImage> decoded;
    for (const QByteArray &jpeg : jpegs)
        decoded.push_back(decoder.decode(jpeg));

    const std::string size = std::to_string(r.width) + "x" + std::to_string(r.height);
    const std::string rate = std::to_string(fps);
    const std::string out = QFile::encodeName(path).toStdString();
    std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-loglevel", "error",      "-y",
                                     "-f",     "rawvideo",     "-pix_fmt",  "bgra",       "-s",
                                     size,     "-r",           rate,        "-i",         "pipe:0",
                                     "-c:v",   "libx264",      "-preset",   preset.preset};
    if (preset.crf > 0) {
        args.push_back("-crf");
        args.push_back(std::to_string(preset.crf));
    }
    if (preset.tune && *preset.tune) {
        args.push_back("-tune");
        args.push_back(preset.tune);
    }
    for (const char *a : {"-pix_fmt", "yuv420p"})
        args.push_back(a);
    args.push_back(out);
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return run;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[0], 0);
        close(pipeFds[0]);
        close(pipeFds[1]);
        execvp("ffmpeg", argv.data());
        _exit(127);
    }
    close(pipeFds[0]);
    bool writeOk = pid > 0;
    for (int i = 0; writeOk && i < frames; ++i) {
        const QImage &frame = decoded[size_t(i % kDistinctFrames)];
        for (int y = 0; writeOk && y < frame.height(); ++y) {
            const char *row = reinterpret_cast<const char *>(frame.constScanLine(y));
            size_t left = size_t(frame.width()) * 4;
            while (left > 0) {
                const ssize_t n = write(pipeFds[1], row, left);
                if (n <= 0) {
                    writeOk = false;
                    break;
                }
                row += n;
                left -= size_t(n);
            }
        }
    }
    close(pipeFds[1]);
    int status = 0;
    rusage usage = {};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status) &&
        WEXITSTATUS(status) == 0 && writeOk) {
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        const FileFacts facts = readFile(path);
        run.frames = facts.packets;
        run.megabitsPerSecond = facts.megabitsPerSecond;
        run.ok = run.frames > 0;
        run.cpuMsPerFrame = 1000 * cpu / std::max(1, run.frames);
        run.framesPerSecond = run.frames / seconds;
    }
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const QString &name) {
        const qsizetype at = args.indexOf(name);
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : QString();
    };
    const double seconds = option(QStringLiteral("--seconds")).isEmpty()
                               ? 5.0
                               : option(QStringLiteral("--seconds")).toDouble();
    const QString only = option(QStringLiteral("--only"));
    const int noise = option(QStringLiteral("--noise")).isEmpty()
                          ? 7
                          : std::max(0, option(QStringLiteral("--noise")).toInt());
    const QByteArray presetName = option(QStringLiteral("--preset")).toUtf8();
    const QByteArray tuneName = option(QStringLiteral("--tune")).toUtf8();
    const bool viewerLoad = !args.contains(QStringLiteral("--no-viewer-load"));
    const bool withFfmpeg = !args.contains(QStringLiteral("--no-ffmpeg"));

    std::vector<Resolution> resolutions(std::begin(kResolutions), std::end(kResolutions));
    std::sort(resolutions.begin(), resolutions.end(), [](const Resolution &a, const Resolution &b) {
        return qint64(a.width) * a.height < qint64(b.width) * b.height;
    });

    QTemporaryDir dir;
    std::printf("Video writer, %.0f s of frames per resolution (star field, noise +-%d), offered "
                "in real time%s; %u cores\n",
                seconds, noise,
                viewerLoad ? " while the main thread decodes and scales each one" : "",
                std::thread::hardware_concurrency());
    std::printf("%-10s %3s %7s %-28s %-24s %7s %7s %7s %9s %9s %9s %10s %7s | %11s %9s %7s\n",
                "size", "fps", "JPEG KB", "x264 preset/tune", "H.264 profile, level", "offered",
                "written", "dropped", "cpu/frame", "main/frm", "worst call", "viewer/frm", "Mbit/s",
                "ffmpeg cpu/f", "ffmpeg fps", "Mbit/s");
    for (const Resolution &r : resolutions) {
        if (!only.isEmpty() && only != QStringLiteral("%1x%2").arg(r.width).arg(r.height))
            continue;
        const int fps = recordingFps(r.width, r.height);
        const int frames = std::max(1, int(std::lround(seconds * fps)));
        std::vector<QByteArray> jpegs;
        qint64 jpegBytes = 0;
        for (int i = 0; i < kDistinctFrames; ++i) {
            jpegs.push_back(toJpeg(starField(r.width, r.height, i, noise)));
            jpegBytes += jpegs.back().size();
        }

        EncoderPreset preset = EncoderPreset::forFrameSize(r.width, r.height);
        if (!presetName.isEmpty())
            preset = {presetName.constData(), tuneName.constData(),
                      option(QStringLiteral("--crf")).toInt()};
        ImageWritingVideoTool::Options options;
        options.encoderPreset = preset;

        const QString name = QStringLiteral("%1x%2").arg(r.width).arg(r.height);
        const WriterRun writer =
            runWriter(r, fps, frames, jpegs, dir.filePath(name + QStringLiteral(".mp4")), options,
                      viewerLoad);
        FfmpegRun ffmpeg;
        if (withFfmpeg)
            ffmpeg = runFfmpeg(r, fps, frames, jpegs,
                               dir.filePath(name + QStringLiteral("-ffmpeg.mp4")), preset);

        const std::string presetText = std::string(preset.preset) +
                                       (preset.tune && *preset.tune ? "/" : "") +
                                       (preset.tune ? preset.tune : "") +
                                       (preset.crf > 0 ? " crf " + std::to_string(preset.crf) : "");
        std::printf(
            "%-10s %3d %7lld %-28s %-24s %7d %7d %7d %7.1fms %7.1fms %7.1fms %8.1fms %7.1f | ",
            qPrintable(name), fps, jpegBytes / kDistinctFrames / 1024, presetText.c_str(),
            writer.profile.c_str(), writer.offered, writer.written,
            writer.offered - writer.accepted, writer.writerCpuMsPerFrame,
            writer.writeImageCpuMsPerFrame, writer.worstWriteImageMs, writer.viewerCpuMsPerFrame,
            writer.megabitsPerSecond);
        if (ffmpeg.ok)
            std::printf("%9.1fms %9.1f %7.1f\n", ffmpeg.cpuMsPerFrame, ffmpeg.framesPerSecond,
                        ffmpeg.megabitsPerSecond);
        else
            std::printf("%11s %9s %7s\n", withFfmpeg ? "failed" : "-", "-", "-");
        if (!writer.completed)
            std::printf("  (the recording did not complete)\n");
        std::fflush(stdout);
    }
    return 0;
}
