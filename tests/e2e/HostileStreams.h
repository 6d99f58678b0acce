#pragma once

#include "stream/CameraBufferDelegate.h"
#include "support/ThreadedServer.h"

#include <QByteArray>
#include <QObject>
#include <QSize>
#include <QTimer>

#include <memory>

class ViewController;

// What the hostile-server suite sends and measures.
namespace hostile
{

constexpr qint64 kMiB = 1024 * 1024;

// The head of a stream answer; "frame" is the boundary.
QByteArray streamHead(const QByteArray &contentType = "multipart/x-mixed-replace;boundary=frame",
                      const QByteArray &extraHeaders = {});
// A delimiter line and a part's headers, with the length when it is >= 0.
QByteArray partHead(qint64 declaredLength);
// One whole part: delimiter, headers, body and the line break after it.
QByteArray part(const QByteArray &body);

// A small JPEG whose frame header declares another size.
QByteArray withDeclaredSize(QByteArray jpeg, int width, int height);

// A body of 'x' bytes: no delimiter, no end-of-image marker anywhere.
QByteArray filler(qsizetype size);

// An answer body made by repeating unit after prefix until total bytes, in
// blocks of about 256 KiB; then it ends.
std::function<QByteArray(qint64)> repeated(QByteArray prefix, QByteArray unit, qint64 total);

// A body that sends nothing and never ends, until the server stops.
std::function<QByteArray(qint64)> silence(const ThreadedServer &server);

// A good camera box stream: the frames in turn, one every periodMs, for as
// long as the client reads.
std::function<QByteArray(qint64)> frames(const ThreadedServer &server, QList<QByteArray> jpegs,
                                         int periodMs);

// The stream client's reports on their way to the controller, counted.
class Reports : public CameraBufferDelegate
{
public:
    explicit Reports(ViewController &controller) : m_controller(controller) {}
    void cameraFPS(qint64 framesInLastSecond) override;
    void cameraBufferImage(const QImage &image) override;
    void disconnection() override;

    int frames = 0;       // delivered pictures
    int ends = 0;         // end reports
    int rateReports = 0;  // frame-rate reports
    qint64 completed = 0; // sum of the frame-rate reports: completed parts
    QSize lastSize;

private:
    ViewController &m_controller;
};

// Memory over one hostile case: the allocator's bytes in use, sampled often
// and at every report, and the resident peak the kernel keeps.
class MemoryWatch : public QObject
{
public:
    MemoryWatch();
    void sample();
    qint64 heapGrowth() const { return m_heapPeak - m_heapStart; }
    // The stream client's part buffer at its largest seen.
    qsizetype maxBuffered() const { return m_maxBuffered; }
    // -1 where the kernel keeps no resetable peak.
    qint64 residentGrowth() const;
    QString figures() const;

private:
    QTimer m_timer;
    qint64 m_heapStart = 0;
    qint64 m_heapPeak = 0;
    qint64 m_residentStart = 0;
    bool m_peakReset = false;
    qsizetype m_maxBuffered = 0;
};

} // namespace hostile
