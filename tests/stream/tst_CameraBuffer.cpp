#include "stream/CameraBuffer.h"

#include "platform/CameraAddress.h"
#include "support/LoopbackServer.h"
#include "support/ProcessFigures.h"
#include "support/StreamParts.h"

#include <QTest>
#include <QTimer>

#include <latch>
#include <thread>

namespace
{

enum class End { ServerCloses, Refused, Stop, Restart, StopInReport, RestartInReport };
QByteArray frame(int i)
{
    return StreamParts::frame(i);
}

// The reports, with what the client looked like when they came.
struct Recorder : CameraBufferDelegate {
    QList<qint64> fps;
    QList<QSize> frames;
    QList<bool> streamingAtEnd; // one per disconnection
    std::function<void()> onFrame = [] {};
    void cameraFPS(qint64 n) override
    {
        fps << (QThread::currentThread() == qApp->thread() ? n : -1);
    }
    void cameraBufferImage(const QImage &image) override
    {
        frames << image.size();
        onFrame();
    }
    void disconnection() override { streamingAtEnd << CameraBuffer::shareInstance().isStreaming(); }
};

} // namespace

class tst_CameraBuffer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void chunks_data();
    void chunks();
    void endsOnce_data();
    void endsOnce();
    void sharedInstance();

private:
    Recorder r;
};

void tst_CameraBuffer::init()
{
    // No part in progress, no frame counted, and the reports to r.
    r = Recorder();
    CameraBuffer &cb = CameraBuffer::shareInstance();
    cb.resetFPSData();
    cb.clearData();
    cb.didReceiveResponse(-1);
    cb.setDelegate(&r);
}

void tst_CameraBuffer::cleanup()
{
    CameraBuffer::shareInstance().setDelegate(nullptr);
    CameraBuffer::shareInstance().stopTaskWiFiBox();
    QCoreApplication::processEvents(); // the stopped transfer's end, to nobody
}

void tst_CameraBuffer::chunks_data()
{
    // A qint64 starts a part with that declared length; a QByteArray is a chunk of it.
    QTest::addColumn<QVariantList>("steps");
    QTest::addColumn<QList<QSize>>("shown");
    QTest::addColumn<int>("buffered");
    QTest::addColumn<int>("counted"); // completed parts, in the next frame-rate report
    const QByteArray a = frame(0), b = frame(1), c = frame(2);
    const auto n = [](const QByteArray &bytes, qint64 more = 0) { return bytes.size() + more; };
    const QSize s0 = StreamParts::frameSize(0), s1 = StreamParts::frameSize(1),
                s2 = StreamParts::frameSize(2);
    QTest::newRow("whole at the declared length")
        << QVariantList{n(c), c.left(100), QByteArray(), c.mid(100), n(b), b.chopped(2), b.right(2)}
        << QList{s2, s1} << 0 << 2;
    QTest::newRow("declared too long: given up at the marker")
        << QVariantList{n(a, 10), a.left(300), a.mid(300), n(a), a} << QList{s0} << 0 << 1;
    QTest::newRow("declared too short: never cut and shown")
        << QVariantList{n(a, -100), a} << QList<QSize>() << 0 << 0;
    QTest::newRow("leftovers complete no part, until the marker")
        << QVariantList{n(a), a.left(200), n(b), b.chopped(1), b.right(1), n(b), b, n(c), c}
        << QList{s2} << 0 << 1;
    QTest::newRow("a marker only counts at a chunk's end")
        << QVariantList{qint64(9), QByteArray("abc\xFF"), QByteArray("\xD9"),
                        QByteArray("x\xFF\xD9yz")}
        << QList<QSize>() << 10 << 0;
    QTest::newRow("complete but no picture: counted, not shown")
        << QVariantList{qint64(5), QByteArray("hello"), n(a),
                        a,         qint64(22),          a.left(20) + a.right(2)}
        << QList{s0} << 0 << 3;
    // No usable length and no chunk that ends with the marker: given up at the cap.
    QTest::newRow("oversized: given up, the next part shown")
        << QVariantList(900, QByteArray(64 * 1024, 'x')) +
               QVariantList{QByteArray("\xFF\xD9"), n(c), c}
        << QList{s2} << 0 << 1;
}

void tst_CameraBuffer::chunks()
{
    QFETCH(QVariantList, steps);
    QFETCH(QList<QSize>, shown);
    QFETCH(int, buffered);
    QFETCH(int, counted);
    CameraBuffer &cb = CameraBuffer::shareInstance();
    const qint64 heapBefore = processfigures::heapInUse();
    for (const QVariant &step : steps) {
        if (step.typeId() == QMetaType::LongLong)
            cb.didReceiveResponse(step.toLongLong());
        else
            cb.didReceiveData(step.toByteArray());
        // The part buffer grows up to the cap, and no further.
        QVERIFY(processfigures::heapInUse() - heapBefore < CameraBuffer::kMaxPartBytes + (2 << 20));
    }
    QCOMPARE(r.frames, shown);
    QCOMPARE(cb.bufferedBytes(), buffered);
    cb.resetFPSData();
    cb.resetFPSData();
    QCOMPARE(r.fps, (QList<qint64>{counted, 0}));
}

void tst_CameraBuffer::endsOnce_data()
{
    QTest::addColumn<End>("end");
    QTest::newRow("server closes") << End::ServerCloses;
    QTest::newRow("refused") << End::Refused;
    QTest::newRow("stop") << End::Stop;
    QTest::newRow("restart") << End::Restart;
    QTest::newRow("stop from inside a frame report") << End::StopInReport;
    QTest::newRow("restart from inside a frame report") << End::RestartInReport;
}

void tst_CameraBuffer::endsOnce()
{
    QFETCH(End, end);
    // Frames 0 to 3, with a part that is no picture and one of a wrong length.
    StreamParts stream(StreamParts::Layout::BreakThenFrame);
    stream.part(frame(0))
        .part("no picture")
        .part(frame(1), frame(1).size() + 1)
        .part(frame(2))
        .part(frame(3));
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        socket->write(StreamParts::httpHead("multipart/x-mixed-replace;boundary=myboundary"));
        if (end == End::ServerCloses) {
            LoopbackServer::writeSliced(socket, stream.bytes(), 100);
            return socket->disconnectFromHost();
        }
        auto *timer = new QTimer(socket); // a part every 20 ms
        connect(timer, &QTimer::timeout, socket, [&, socket, n = 0]() mutable {
            const qsizetype from = n ? stream.parts()[n - 1].end : 0;
            socket->write(stream.bytes().mid(from, stream.parts()[n].end - from));
            n = (n + 1) % stream.parts().size();
        });
        timer->start(20);
    });
    const quint16 port = end == End::Refused ? LoopbackServer::closedPort() : server.port();
    QVERIFY(CameraAddress::setBaseUrl(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port))));
    CameraBuffer &cb = CameraBuffer::shareInstance();
    const bool restarts = end == End::Restart || end == End::RestartInReport;
    qsizetype atStop = end == End::Refused ? 0 : end == End::ServerCloses ? 3 : 2; // frames
    r.onFrame = [&] {
        if (r.frames.size() == 2 && (end == End::StopInReport || end == End::RestartInReport))
            restarts ? cb.startWiFiBox() : cb.stopTaskWiFiBox();
    };
    cb.startWiFiBox();
    if (end == End::Stop || end == End::Restart) {
        QTRY_VERIFY((atStop = r.frames.size()) >= 3);
        cb.didReceiveResponse(frame(2).size()); // a part half received
        cb.didReceiveData(frame(2).left(99));
        restarts ? cb.startWiFiBox() : cb.stopTaskWiFiBox();
        QCOMPARE(cb.isStreaming(), restarts);
        QVERIFY(r.streamingAtEnd.isEmpty()); // not from inside the call
    }
    // The end of a replaced transfer comes once the new one runs.
    QTRY_COMPARE(r.streamingAtEnd, QList{restarts});
    QTRY_VERIFY(r.frames.size() >= atStop + 3 * restarts);
    QTest::qWait(300); // the server goes on writing; the client does not reconnect by itself
    QCOMPARE(r.streamingAtEnd.size(), 1);
    QCOMPARE(server.requestLines().size(), restarts ? 2 : qsizetype(end != End::Refused));
    QCOMPARE(r.frames.size() > atStop, restarts);
    // Frames 0, 2 and 3 in turn; after a restart, from frame 0 again.
    for (qsizetype i = 0; i < r.frames.size(); ++i)
        QCOMPARE(r.frames[i],
                 StreamParts::frameSize(QList{0, 2, 3}[(i < atStop ? i : i - atStop) % 3]));
}

void tst_CameraBuffer::sharedInstance()
{
    // First calls from many threads at once make one instance, on the main
    // thread, with its frame-rate timer there: a report every second, 0
    // without a stream. A released instance's timer goes with it.
    CameraBuffer::releaseSharedInstance();
    std::atomic<CameraBuffer *> made[8] = {};
    std::latch start(8);
    std::vector<std::thread> threads;
    for (std::atomic<CameraBuffer *> &m : made)
        threads.emplace_back([&] {
            start.arrive_and_wait();
            m = &CameraBuffer::shareInstance();
        });
    for (std::thread &t : threads)
        t.join();
    for (const std::atomic<CameraBuffer *> &m : made)
        QCOMPARE(m.load(), made[0].load());
    QCOMPARE(made[0].load()->thread(), qApp->thread());
    made[0].load()->setDelegate(&r);
    QTRY_COMPARE_WITH_TIMEOUT(r.fps, (QList<qint64>{0, 0}), 10000);
    CameraBuffer::releaseSharedInstance();
    QTest::qWait(1500);
    QCOMPARE(r.fps.size(), 2);
}

QTEST_GUILESS_MAIN(tst_CameraBuffer)
#include "tst_CameraBuffer.moc"
