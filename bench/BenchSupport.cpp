#include "BenchSupport.h"

#include "support/SimProcess.h"
#include "support/ThreadedServer.h"
#include "viewer/ResolutionTable.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPainter>
#include <QTimer>

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace bench
{

namespace
{
constexpr char kBoundary[] = "boundarydonotcross";
constexpr int kIdCells = kFrameIdBits + 2;

double seconds(const timeval &t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double monotonicSeconds(Clock::time_point t)
{
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}
} // namespace

namespace
{
// A "Name:   value kB" line of /proc/self/status; -1 when missing.
qint64 statusField(const char *name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (!line.startsWith(key))
            continue;
        const QList<QByteArray> fields = line.mid(key.size()).simplified().split(' ');
        const qint64 value = fields.value(0).toLongLong();
        return fields.value(1) == "kB" ? value * 1024 : value;
    }
    return -1;
}
} // namespace

int openFileDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                   .size());
}

int threads()
{
    return int(statusField("Threads"));
}

qint64 residentBytes()
{
    return statusField("VmRSS");
}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void prepareEnvironment()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("ORBILENS_SIM"))
        qputenv("ORBILENS_SIM", ORBILENS_SIM_PATH);
}

void quietViewerLog()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false"));
}

QList<int> tagsOrAll(const QString &list)
{
    QList<int> tags;
    for (const QString &t : list.split(QLatin1Char(','), Qt::SkipEmptyParts))
        tags.append(t.toInt());
    if (tags.isEmpty())
        for (const auto &e : resolution::kTable)
            tags.append(e.tag);
    return tags;
}

double median(std::vector<double> values)
{
    return percentile(std::move(values), 50);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = size_t(std::lround(p / 100.0 * double(values.size() - 1)));
    return values[std::min(at, values.size() - 1)];
}

QByteArray simulatorFrame(int resolutionTag)
{
    SimProcess sim;
    if (!sim.start({QStringLiteral("--resolution"), QString::number(resolutionTag),
                    QStringLiteral("--fps"), QStringLiteral("5")}))
        return {};
    QNetworkAccessManager manager;
    QNetworkReply *reply =
        manager.get(QNetworkRequest(QUrl(sim.baseUrl() + QStringLiteral("/?action=stream"))));
    QByteArray bytes, frame;
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        bytes += reply->readAll();
        const qsizetype start = bytes.indexOf("\xff\xd8");
        const qsizetype end = start < 0 ? -1 : bytes.indexOf("\xff\xd9", start);
        if (end > 0 && frame.isEmpty()) {
            frame = bytes.mid(start, end + 2 - start);
            loop.quit();
        }
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    reply->abort();
    delete reply;
    return frame;
}

void stampFrameId(QImage &image, int id)
{
    QPainter painter(&image);
    const int band = std::max(8, image.height() / 8);
    for (int cell = 0; cell < kIdCells; ++cell) {
        bool white = cell == 0;
        if (cell > 0 && cell <= kFrameIdBits)
            white = (id >> (kFrameIdBits - cell)) & 1;
        const int x0 = cell * image.width() / kIdCells;
        const int x1 = (cell + 1) * image.width() / kIdCells;
        painter.fillRect(x0, 0, x1 - x0, band, white ? Qt::white : Qt::black);
    }
}

int readFrameId(const QImage &image)
{
    if (image.width() < kIdCells || image.height() < 8)
        return -1;
    const int y = std::max(1, image.height() / 16);
    const auto bright = [&](int cell) {
        const int x = (2 * cell + 1) * image.width() / (2 * kIdCells);
        return qGray(image.pixel(x, y)) >= 128;
    };
    if (!bright(0) || bright(kIdCells - 1))
        return -1;
    int id = 0;
    for (int cell = 1; cell <= kFrameIdBits; ++cell)
        id = (id << 1) | (bright(cell) ? 1 : 0);
    return id;
}

QByteArray encodeJpeg(const QImage &image, int quality)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    tjhandle handle = tjInitCompress();
    unsigned char *out = nullptr;
    unsigned long size = 0;
    QByteArray jpeg;
    if (handle &&
        tjCompress2(handle, rgb.constBits(), rgb.width(), int(rgb.bytesPerLine()), rgb.height(),
                    TJPF_BGRX, &out, &size, TJSAMP_420, quality, TJFLAG_FASTDCT) == 0)
        jpeg = QByteArray(reinterpret_cast<const char *>(out), qsizetype(size));
    tjFree(out);
    if (handle)
        tjDestroy(handle);
    return jpeg;
}

std::vector<QByteArray> stampedFrames(const QImage &picture, int quality, qint64 minBytes)
{
    std::vector<QByteArray> frames;
    qint64 bytes = 0;
    const int most = 1 << kFrameIdBits;
    while (int(frames.size()) < most && (frames.size() < 16 || bytes < minBytes)) {
        QImage image = picture.convertToFormat(QImage::Format_RGB32);
        stampFrameId(image, int(frames.size()));
        frames.push_back(encodeJpeg(image, quality));
        bytes += frames.back().size();
    }
    return frames;
}

double turboDecodeMs(const std::vector<QByteArray> &jpegs, int rounds)
{
    tjhandle handle = tjInitDecompress();
    if (!handle || jpegs.empty())
        return -1;
    std::vector<double> ms;
    std::vector<unsigned char> pixels;
    for (int round = 0; round < rounds; ++round) {
        const QByteArray &jpeg = jpegs[size_t(round) % jpegs.size()];
        const auto *data = reinterpret_cast<const unsigned char *>(jpeg.constData());
        int width = 0, height = 0, subsampling = 0, colorspace = 0;
        if (tjDecompressHeader3(handle, data, jpeg.size(), &width, &height, &subsampling,
                                &colorspace) != 0)
            break;
        pixels.resize(size_t(width) * size_t(height) * 4);
        const double t0 = threadCpuSeconds();
        tjDecompress2(handle, data, jpeg.size(), pixels.data(), width, width * 4, height, TJPF_BGRX,
                      0);
        ms.push_back((threadCpuSeconds() - t0) * 1000);
    }
    tjDestroy(handle);
    return ms.empty() ? -1 : median(ms);
}

ReplayServer::ReplayServer(std::vector<QByteArray> jpegs, double fps)
    : m_jpegs(std::move(jpegs)), m_fps(fps)
{
    m_server = std::make_unique<ThreadedServer>([this](const QByteArray &requestLine) {
        ThreadedServer::Answer answer;
        if (!requestLine.contains("action=stream")) {
            // The viewer's commands: accepted, nothing changes.
            answer.head = "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n"
                          "Content-Length: 14\r\nConnection: close\r\n\r\n{\"result\":\"0\"}";
            return answer;
        }
        const qint64 connection = m_connections++;
        {
            std::lock_guard lock(m_mutex);
            m_connection = connection;
            m_sent.clear();
            m_slot = 0;
            m_start = Clock::now();
            m_threadCpu.resize(size_t(connection) + 1, 0.0);
        }
        answer.head = QByteArray("HTTP/1.0 200 OK\r\nServer: replay\r\nConnection: close\r\n"
                                 "Content-Type: multipart/x-mixed-replace;boundary=") +
                      kBoundary + "\r\n\r\n";
        answer.next = [this, connection](qint64 written) { return nextPart(connection, written); };
        return answer;
    });
}

ReplayServer::~ReplayServer()
{
    // Its connection threads use everything below; they end first.
    m_server.reset();
}

QString ReplayServer::baseUrl() const
{
    return m_server->baseUrl();
}

QByteArray ReplayServer::nextPart(qint64 connection, qint64 written)
{
    const Clock::time_point now = Clock::now();
    qint64 sequence = 0;
    Clock::time_point due;
    {
        std::lock_guard lock(m_mutex);
        m_threadCpu[size_t(connection)] = threadCpuSeconds();
        if (connection != m_connection)
            return {}; // a newer stream took over
        if (written > 0 && !m_sent.empty())
            m_sent.back() = now; // its last byte is in the socket
        sequence = qint64(m_sent.size());
        if (m_fps > 0) {
            const auto interval = std::chrono::duration<double>(1.0 / m_fps);
            // Slots whose time passed while the client did not take the last
            // part are skipped. When the server itself woke late, it catches
            // up instead: that is the machine, not the client.
            const bool clientSlow = written > 0 && now - m_partStarted > interval;
            const qint64 current = qint64(std::chrono::duration<double>(now - m_start) / interval);
            if (clientSlow && current > m_slot + 1) {
                m_skipped += current - m_slot - 1;
                m_slot = current;
            }
            due = m_start + std::chrono::duration_cast<Clock::duration>(interval * double(m_slot));
            ++m_slot;
        }
        m_sent.push_back(Clock::time_point{});
    }
    if (m_fps > 0)
        std::this_thread::sleep_until(due);
    {
        std::lock_guard lock(m_mutex);
        m_partStarted = Clock::now();
    }
    const QByteArray &jpeg = m_jpegs[size_t(sequence) % m_jpegs.size()];
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.6f", monotonicSeconds(Clock::now()));
    QByteArray part;
    part.reserve(jpeg.size() + 160);
    part += QByteArray("--") + kBoundary +
            "\r\nContent-Type: image/jpeg\r\nContent-Length: " + QByteArray::number(jpeg.size()) +
            "\r\nX-Timestamp: " + stamp + "\r\n\r\n";
    part += jpeg;
    part += "\r\n";
    return part;
}

bool ReplayServer::sentAt(qint64 sequence, Clock::time_point *when) const
{
    std::lock_guard lock(m_mutex);
    if (sequence < 0 || sequence >= qint64(m_sent.size()) ||
        m_sent[size_t(sequence)] == Clock::time_point{})
        return false;
    *when = m_sent[size_t(sequence)];
    return true;
}

qint64 ReplayServer::framesSent() const
{
    std::lock_guard lock(m_mutex);
    return std::max<qint64>(0, qint64(m_sent.size()) - 1);
}

double ReplayServer::cpuSeconds() const
{
    std::lock_guard lock(m_mutex);
    double sum = 0;
    for (double s : m_threadCpu)
        sum += s;
    return sum;
}

FfmpegRun runFfmpeg(const QStringList &arguments, double seconds)
{
    FfmpegRun run;
    char progressPath[] = "/tmp/bench-ffmpeg-progress-XXXXXX";
    const int progressFd = mkstemp(progressPath);
    if (progressFd < 0)
        return run;
    close(progressFd);
    std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-nostdin",  "-loglevel",
                                     "error",  "-progress",    progressPath};
    for (const QString &a : arguments)
        args.push_back(a.toStdString());
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        execvp("ffmpeg", argv.data());
        _exit(127);
    }
    if (pid < 0) {
        unlink(progressPath);
        return run;
    }
    int status = 0;
    rusage usage{};
    const auto deadline =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    bool exited = false;
    while (Clock::now() < deadline && !exited) {
        exited = wait4(pid, &status, WNOHANG, &usage) == pid;
        if (!exited)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!exited) {
        kill(pid, SIGINT); // ffmpeg finishes its output and exits
        for (int i = 0; i < 500 && !exited; ++i) {
            exited = wait4(pid, &status, WNOHANG, &usage) == pid;
            if (!exited)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!exited) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
        }
    }
    run.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpuSeconds = bench::seconds(usage.ru_utime) + bench::seconds(usage.ru_stime);
    QFile progress(QString::fromLocal8Bit(progressPath));
    if (progress.open(QIODevice::ReadOnly))
        for (const QByteArray &line : progress.readAll().split('\n'))
            if (line.startsWith("frame="))
                run.frames = line.mid(6).trimmed().toLongLong();
    unlink(progressPath);
    run.ok = exited && WIFEXITED(status) && WEXITSTATUS(status) != 127 && run.frames > 0;
    return run;
}

int countVideoPackets(const QString &path)
{
    AVFormatContext *input = nullptr;
    if (avformat_open_input(&input, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return -1;
    int packets = -1;
    const int stream = avformat_find_stream_info(input, nullptr) >= 0
                           ? av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                           : -1;
    if (stream >= 0) {
        packets = 0;
        AVPacket *packet = av_packet_alloc();
        while (av_read_frame(input, packet) >= 0) {
            packets += packet->stream_index == stream;
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
    }
    avformat_close_input(&input);
    return packets;
}

void Results::addTable(const QString &title, const QStringList &columns, const QJsonArray &rows,
                       const QString &note)
{
    m_tables.append(QJsonObject{{QStringLiteral("title"), title},
                                {QStringLiteral("columns"), QJsonArray::fromStringList(columns)},
                                {QStringLiteral("rows"), rows},
                                {QStringLiteral("note"), note}});
}

bool Results::target(const QString &what, bool pass, const QString &figures)
{
    std::printf("%s  %s: %s\n", pass ? "PASS" : "MISS", qPrintable(what), qPrintable(figures));
    std::fflush(stdout);
    m_targets.append(QJsonObject{{QStringLiteral("target"), what},
                                 {QStringLiteral("result"), pass ? "PASS" : "MISS"},
                                 {QStringLiteral("figures"), figures}});
    return pass;
}

bool Results::write(const QString &path) const
{
    if (path.isEmpty())
        return true;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QJsonObject all{{QStringLiteral("name"), m_name},
                          {QStringLiteral("mode"), m_mode},
                          {QStringLiteral("tables"), m_tables},
                          {QStringLiteral("targets"), m_targets},
                          {QStringLiteral("raw"), m_raw}};
    return file.write(QJsonDocument(all).toJson()) > 0;
}

double rounded(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

} // namespace bench
