#include "e2e/HostileStreams.h"

#include "stream/CameraBuffer.h"
#include "support/ProcessFigures.h"
#include "viewer/ViewController.h"

namespace hostile
{

namespace
{
constexpr qsizetype kBlock = 256 * 1024;
}

QByteArray streamHead(const QByteArray &contentType, const QByteArray &extraHeaders)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: " + contentType + "\r\n" + extraHeaders +
           "Connection: close\r\n\r\n";
}

QByteArray partHead(qint64 declaredLength)
{
    QByteArray head = "--frame\r\nContent-Type: image/jpeg\r\n";
    if (declaredLength >= 0)
        head += "Content-Length: " + QByteArray::number(declaredLength) + "\r\n";
    return head + "\r\n";
}

QByteArray part(const QByteArray &body)
{
    return partHead(body.size()) + body + "\r\n";
}

QByteArray withDeclaredSize(QByteArray jpeg, int width, int height)
{
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    if (sof < 0)
        return {};
    jpeg[sof + 5] = char(height >> 8);
    jpeg[sof + 6] = char(height & 0xFF);
    jpeg[sof + 7] = char(width >> 8);
    jpeg[sof + 8] = char(width & 0xFF);
    return jpeg;
}

QByteArray filler(qsizetype size)
{
    return QByteArray(size, 'x');
}

std::function<QByteArray(qint64)> repeated(QByteArray prefix, QByteArray unit, qint64 total)
{
    QByteArray block;
    while (!unit.isEmpty() && block.size() < kBlock)
        block += unit;
    return [prefix = std::move(prefix), block = std::move(block), total](qint64 written) {
        if (written >= total)
            return QByteArray();
        if (written == 0 && !prefix.isEmpty())
            return prefix;
        if (block.isEmpty())
            return QByteArray();
        return block.left(qsizetype(std::min<qint64>(block.size(), total - written)));
    };
}

std::function<QByteArray(qint64)> silence(const ThreadedServer &server)
{
    return [&server](qint64) {
        while (server.sleepFor(100)) {
        }
        return QByteArray();
    };
}

std::function<QByteArray(qint64)> frames(const ThreadedServer &server, QList<QByteArray> jpegs,
                                         int periodMs)
{
    auto index = std::make_shared<int>(0);
    return [&server, jpegs = std::move(jpegs), periodMs, index](qint64 written) {
        if (written > 0 && !server.sleepFor(periodMs))
            return QByteArray();
        return part(jpegs[(*index)++ % jpegs.size()]);
    };
}

void Reports::cameraFPS(qint64 framesInLastSecond)
{
    ++rateReports;
    completed += framesInLastSecond;
    m_controller.cameraFPS(framesInLastSecond);
}

void Reports::cameraBufferImage(const QImage &image)
{
    ++frames;
    lastSize = image.size();
    m_controller.cameraBufferImage(image);
}

void Reports::disconnection()
{
    ++ends;
    m_controller.disconnection();
}

MemoryWatch::MemoryWatch()
{
    m_peakReset = processfigures::resetPeakResident();
    m_residentStart = processfigures::residentBytes();
    m_heapStart = m_heapPeak = processfigures::heapInUse();
    connect(&m_timer, &QTimer::timeout, this, &MemoryWatch::sample);
    m_timer.start(2);
}

void MemoryWatch::sample()
{
    m_heapPeak = std::max(m_heapPeak, processfigures::heapInUse());
    if (CameraBuffer::hasSharedInstance())
        m_maxBuffered = std::max(m_maxBuffered, CameraBuffer::shareInstance().bufferedBytes());
}

qint64 MemoryWatch::residentGrowth() const
{
    return m_peakReset ? processfigures::peakResidentBytes() - m_residentStart : -1;
}

QString MemoryWatch::figures() const
{
    return QStringLiteral("heap peak +%1 MiB, resident peak %2 MiB (+%3 MiB), part buffer "
                          "max %4 MiB")
        .arg(double(heapGrowth()) / kMiB, 0, 'f', 1)
        .arg(double(processfigures::peakResidentBytes()) / kMiB, 0, 'f', 1)
        .arg(double(residentGrowth()) / kMiB, 0, 'f', 1)
        .arg(double(m_maxBuffered) / kMiB, 0, 'f', 1);
}

} // namespace hostile
