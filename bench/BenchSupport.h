#pragma once

// What the benchmarks share: CPU clocks, statistics, frames of the camera
// box's sky stamped with a frame number, a replay server that sends them, the
// ffmpeg command line as a child with its own CPU figures, and the JSON file
// every benchmark writes for the report.

#include <QByteArray>
#include <QCommandLineOption>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class ThreadedServer;

namespace bench
{

using Clock = std::chrono::steady_clock;

// --- Set-up -----------------------------------------------------------------

// Before the QApplication: the offscreen platform, and the simulator of this
// build unless ORBILENS_SIM names another.
void prepareEnvironment();
// After it: the viewer's info lines off, so that they do not bury the figures.
void quietViewerLog();

// The options every measuring benchmark takes: which sizes, without the
// ffmpeg command line, where the figures go, and a quick run's mark.
struct CommonOptions {
    QCommandLineOption tags{QStringLiteral("tags"),
                            QStringLiteral("Resolution tags (default: all)."),
                            QStringLiteral("LIST")};
    QCommandLineOption noFfmpeg{QStringLiteral("no-ffmpeg"),
                                QStringLiteral("Leave out the ffmpeg command line.")};
    QCommandLineOption json{QStringLiteral("json"), QStringLiteral("Write the figures to FILE."),
                            QStringLiteral("FILE")};
    QCommandLineOption quick{QStringLiteral("quick"),
                             QStringLiteral("Mark the results as a quick run.")};
    QList<QCommandLineOption> all() const { return {tags, noFfmpeg, json, quick}; }
};
// The tags given, or every tag of the resolution table.
QList<int> tagsOrAll(const QString &list);

// --- CPU and statistics ---------------------------------------------------

// User + system seconds of this process, of its children that were waited
// for, and of the calling thread.
double processCpuSeconds();
double threadCpuSeconds();

// Figures of this process from Linux's /proc: entries of /proc/self/fd,
// "Threads:" and resident memory ("VmRSS", in bytes) of /proc/self/status.
int openFileDescriptors();
int threads();
qint64 residentBytes();

double median(std::vector<double> values);
double percentile(std::vector<double> values, double p); // p in 0..100

// --- Frames -----------------------------------------------------------------

// One frame of the simulator at this resolution tag, as it sends it, cut out of
// its stream; empty when the simulator cannot be started or sends nothing.
QByteArray simulatorFrame(int resolutionTag);

// The frame number is drawn as twelve black or white cells across the top
// eighth of the picture: a white start cell, ten bits (most significant
// first) and a black end cell. The cells are large, so the number survives
// JPEG and any down-scaling the viewer does.
constexpr int kFrameIdBits = 10;
void stampFrameId(QImage &image, int id);
// The number, or -1 when the picture carries none.
int readFrameId(const QImage &image);

// JPEG at quality with 4:2:0 chroma, as the camera box encodes.
QByteArray encodeJpeg(const QImage &image, int quality);

// Distinct frames of picture, each stamped with its index: as many as it takes
// for at least minBytes of JPEG, between 16 and 1 << kFrameIdBits.
std::vector<QByteArray> stampedFrames(const QImage &picture, int quality, qint64 minBytes);

// libjpeg-turbo alone: milliseconds of thread CPU to decode one of the frames
// to full-size BGRX (the viewer's pixel format), the median over rounds.
double turboDecodeMs(const std::vector<QByteArray> &jpegs, int rounds);

// --- Replay server ------------------------------------------------------------

// Sends the frames in a loop as the camera box's multipart stream, on
// "/?action=stream", from a thread of its own: as fast as the client takes
// them (fps 0) or at fps, skipping the frames whose time has passed while the
// client did not take the previous one, as the box does. It notes for every
// frame of the current connection the moment its last byte went into the
// socket. Each part carries "X-Timestamp", seconds on the monotonic clock
// when its head went out.
class ReplayServer
{
public:
    ReplayServer(std::vector<QByteArray> jpegs, double fps);
    ~ReplayServer();
    ReplayServer(const ReplayServer &) = delete;
    ReplayServer &operator=(const ReplayServer &) = delete;

    QString baseUrl() const;
    QString streamUrl() const { return baseUrl() + QStringLiteral("/?action=stream"); }
    int frameCount() const { return int(m_jpegs.size()); }

    // Of the latest stream connection: sequence number n went out when?
    // (frame n carries id n % frameCount()). Empty optional when not yet.
    bool sentAt(qint64 sequence, Clock::time_point *when) const;
    qint64 framesSent() const;
    qint64 framesSkipped() const { return m_skipped.load(); }
    // CPU seconds of the server's connection threads, so that the process's
    // CPU can be counted without them.
    double cpuSeconds() const;

private:
    QByteArray nextPart(qint64 connection, qint64 written);

    const std::vector<QByteArray> m_jpegs;
    const double m_fps;
    std::unique_ptr<ThreadedServer> m_server;

    mutable std::mutex m_mutex;
    qint64 m_connection = -1; // the latest stream connection
    std::vector<Clock::time_point> m_sent;
    Clock::time_point m_start;
    Clock::time_point m_partStarted; // the latest part began to go out
    qint64 m_slot = 0;
    std::vector<double> m_threadCpu; // by connection
    std::atomic<qint64> m_skipped{0};
    std::atomic<qint64> m_connections{0};
};

// --- The ffmpeg command line ---------------------------------------------------

struct FfmpegRun {
    bool ok = false;
    qint64 frames = 0;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    double cpuMsPerFrame() const { return frames > 0 ? 1000 * cpuSeconds / double(frames) : 0; }
    double fps() const { return wallSeconds > 0 ? double(frames) / wallSeconds : 0; }
};

// Runs `ffmpeg -hide_banner -nostdin <arguments>` for seconds, then asks it
// to stop (SIGINT; SIGKILL if it does not) and reads its CPU from wait4. The
// frames are ffmpeg's own count from its progress report. Runs on the
// calling thread without an event loop; the replay server has its own.
FfmpegRun runFfmpeg(const QStringList &arguments, double seconds);

// Packets of the first video stream of a media file, read with libavformat;
// -1 when it cannot be read.
int countVideoPackets(const QString &path);

// --- Results --------------------------------------------------------------------

// One benchmark's results: tables (for people), targets with PASS or MISS,
// and everything under "raw". Written as JSON for scripts/bench's report.
class Results
{
public:
    explicit Results(QString name) : m_name(std::move(name)) {}

    void addTable(const QString &title, const QStringList &columns, const QJsonArray &rows,
                  const QString &note = {});
    // Prints "PASS" or "MISS" with the figure and adds it to the targets.
    bool target(const QString &what, bool pass, const QString &figures);
    void setRaw(const QString &key, const QJsonValue &value) { m_raw[key] = value; }
    void setMode(const QString &mode) { m_mode = mode; }
    bool write(const QString &path) const;

private:
    QString m_name;
    QString m_mode;
    QJsonArray m_tables;
    QJsonArray m_targets;
    QJsonObject m_raw;
};

// "%.*f" as a JSON-friendly number rounded to decimals.
double rounded(double value, int decimals);

} // namespace bench
