#include "stream/CameraBuffer.h"

#include "platform/CameraAddress.h"
#include "support/LoopbackServer.h"
#include "support/ProcessFigures.h"
#include "support/StreamParts.h"
#include "support/TestImages.h"

#include <QTest>
#include <QTimer>

#include <latch>
#include <numeric>
#include <thread>

namespace
{

enum class End {
    ServerCloses,
    ConnectionLost,
    Refused,
    Stop,
    Restart,
    StopInReport,
    RestartInReport
};
const QByteArray kHead = StreamParts::httpHead("multipart/x-mixed-replace;boundary=myboundary");
QByteArray frame(int i)
{
    return StreamParts::frame(i);
}
QByteArray boxFrame(int i)
{
    return StreamParts(StreamParts::Layout::BreakThenFrame).part(frame(i)).bytes();
}

// The reports, with what the client looked like when they came.
struct Recorder : CameraBufferDelegate {
    QList<qint64> fps;
    QList<QSize> sizes;
    QList<bool> streamingAtEnd; // one per disconnection
    qsizetype framesAtEnd = -1;
    bool offMainThread = false;
    std::function<void()> onImage;

    void cameraFPS(qint64 frames) override
    {
        fps << frames;
        offMainThread |= QThread::currentThread() != qApp->thread();
    }
    void cameraBufferImage(const QImage &image) override
    {
        // The pictures differ by size; the picture itself must be the test's.
        const QSize size = image.size();
        const int i = (size.width() - 24) / 8;
        const QImage want = testimages::picture(size.width(), size.height(), i);
        qint64 difference = 0;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                difference += std::abs(qGreen(image.pixel(x, y)) - qGreen(want.pixel(x, y)));
        sizes << (difference < 6 * size.width() * size.height() ? size : QSize());
        if (onImage)
            onImage();
    }
    void disconnection() override
    {
        streamingAtEnd << CameraBuffer::shareInstance().isStreaming();
        framesAtEnd = sizes.size();
    }
};

// The shared client, with nothing of earlier tests in it, reporting to r.
CameraBuffer &fresh(Recorder &r)
{
    CameraBuffer &cb = CameraBuffer::shareInstance();
    cb.resetFPSData();
    cb.clearData();
    cb.didReceiveResponse(-1);
    cb.setDelegate(&r);
    return cb;
}

} // namespace

class tst_CameraBuffer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        CameraBuffer::shareInstance().setDelegate(nullptr);
        CameraBuffer::shareInstance().stopTaskWiFiBox();
        QCoreApplication::processEvents(); // the stopped transfer's end, to nobody
    }
    void chunks_data();
    void chunks();
    void oversizedPartIsGivenUp();
    void framesOverHttp();
    void endsOnce_data();
    void endsOnce();
    void sharedInstance();
};

void tst_CameraBuffer::chunks_data()
{
    // A qint64 starts a part with that declared length; a QByteArray is a chunk.
    QTest::addColumn<QVariantList>("steps");
    QTest::addColumn<QList<QSize>>("shown");
    QTest::addColumn<int>("buffered");
    QTest::addColumn<int>("counted"); // completed parts, in the next frame-rate report
    const QByteArray a = frame(0), b = frame(1), c = frame(2);
    const auto n = [](const QByteArray &bytes, qint64 more = 0) {
        return qint64(bytes.size()) + more;
    };
    QTest::newRow("whole at the declared length")
        << QVariantList{n(c), c.left(100), QByteArray(), c.mid(100), n(b), b.chopped(2), b.right(2)}
        << QList{StreamParts::frameSize(2), StreamParts::frameSize(1)} << 0 << 2;
    QTest::newRow("declared too long: given up at the marker, the next part clean")
        << QVariantList{n(a, 10), a.left(300), a.mid(300), n(a), a}
        << QList{StreamParts::frameSize(0)} << 0 << 1;
    QTest::newRow("declared too short: never cut and shown")
        << QVariantList{n(a, -100), a} << QList<QSize>() << 0 << 0;
    QTest::newRow("leftovers never complete a part, until the marker")
        << QVariantList{n(a), a.left(200), n(b), b.chopped(1), b.right(1), n(b), b, n(c), c}
        << QList{StreamParts::frameSize(2)} << 0 << 1;
    QTest::newRow("a marker only counts at a chunk's end")
        << QVariantList{qint64(1000), QByteArray("abc\xFF"), QByteArray("\xD9"),
                        QByteArray("x\xFF\xD9yz")}
        << QList<QSize>() << 10 << 0;
    QTest::newRow("complete but no picture: counted, not shown")
        << QVariantList{qint64(5), QByteArray("hello"), n(a),
                        a,         qint64(22),          a.left(20) + a.right(2)}
        << QList{StreamParts::frameSize(0)} << 0 << 3;
}

void tst_CameraBuffer::chunks()
{
    QFETCH(QVariantList, steps);
    QFETCH(QList<QSize>, shown);
    QFETCH(int, buffered);
    QFETCH(int, counted);
    Recorder r;
    CameraBuffer &cb = fresh(r);
    for (const QVariant &step : steps) {
        if (step.typeId() == QMetaType::LongLong)
            cb.didReceiveResponse(step.toLongLong());
        else
            cb.didReceiveData(step.toByteArray());
    }
    QCOMPARE(r.sizes, shown);
    QCOMPARE(cb.bufferedBytes(), buffered);
    cb.resetFPSData();
    cb.resetFPSData();
    QCOMPARE(r.fps, (QList<qint64>{counted, 0}));
}

void tst_CameraBuffer::oversizedPartIsGivenUp()
{
    // No usable length, and no chunk ends with the marker: the part is given
    // up at the cap, its memory goes back, and the next part is shown.
    CameraBuffer::releaseSharedInstance(); // a buffer that never grew
    Recorder r;
    CameraBuffer &cb = fresh(r);
    const qint64 heapBefore = processfigures::heapInUse();
    qint64 heapPeak = heapBefore;
    const QByteArray chunk = "\xFF" + QByteArray(64 * 1024, 'x');
    for (qsizetype sent = 0; sent < CameraBuffer::kMaxPartBytes + (8 << 20); sent += chunk.size()) {
        cb.didReceiveData(chunk);
        QVERIFY(cb.bufferedBytes() <= CameraBuffer::kMaxPartBytes);
        heapPeak = std::max(heapPeak, processfigures::heapInUse());
    }
    QCOMPARE(cb.bufferedBytes(), 0);
    QVERIFY(heapPeak - heapBefore <= CameraBuffer::kMaxPartBytes + (2 << 20));
    cb.didReceiveData("end of the oversized part\xFF\xD9");
    cb.didReceiveResponse(frame(3).size());
    cb.didReceiveData(frame(3));
    QCOMPARE(r.sizes, QList{StreamParts::frameSize(3)});
}

void tst_CameraBuffer::framesOverHttp()
{
    // 12 pictures, 3 complete parts that are none, and one of a wrong length.
    StreamParts stream(StreamParts::Layout::BreakThenFrame);
    for (int i = 0; i < 15; ++i)
        i % 5 == 4 ? stream.part("no picture " + QByteArray::number(i)) : stream.part(frame(i % 4));
    stream.part(frame(1), frame(1).size() + 1).part(frame(2));
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        socket->write(kHead);
        LoopbackServer::writeSliced(socket, stream.bytes(), 333);
        socket->disconnectFromHost();
    });
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
    Recorder r;
    fresh(r).startWiFiBox();
    QTRY_COMPARE(r.streamingAtEnd.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(r.fps.size() >= 2 && r.fps.last() == 0, 10000);
    QCOMPARE(r.sizes.size(), 13);
    QVERIFY(!r.sizes.contains(QSize())); // decoded right
    QCOMPARE(std::accumulate(r.fps.begin(), r.fps.end(), qint64(0)), 16);
}

void tst_CameraBuffer::endsOnce_data()
{
    QTest::addColumn<End>("end");
    QTest::newRow("server closes") << End::ServerCloses;
    QTest::newRow("connection lost") << End::ConnectionLost;
    QTest::newRow("refused") << End::Refused;
    QTest::newRow("stop") << End::Stop;
    QTest::newRow("restart") << End::Restart;
    QTest::newRow("stop from inside a frame report") << End::StopInReport;
    QTest::newRow("restart from inside a frame report") << End::RestartInReport;
}

void tst_CameraBuffer::endsOnce()
{
    QFETCH(End, end);
    const bool closes = end == End::ServerCloses || end == End::ConnectionLost;
    const bool restarts = end == End::Restart || end == End::RestartInReport;
    qsizetype atStop = end == End::Refused ? 0 : 2; // frames before the end
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        socket->write(end == End::ConnectionLost ? "HTTP/1.0 200 OK\r\nContent-Length: 99999\r\n"
                                                   "Content-Type: multipart/x-mixed-replace;"
                                                   "boundary=myboundary\r\n\r\n"
                                                 : kHead);
        socket->write(closes ? boxFrame(0) + boxFrame(1) : QByteArray());
        if (closes)
            return socket->disconnectFromHost();
        auto *timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket,
                [socket, i = 0]() mutable { socket->write(boxFrame(i++ % 4)); });
        timer->start(20);
    });
    const quint16 port = end == End::Refused ? LoopbackServer::closedPort() : server.port();
    QVERIFY(CameraAddress::setBaseUrl(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port))));
    Recorder r;
    CameraBuffer &cb = fresh(r);
    r.onImage = [&] {
        if (r.sizes.size() == 2 && end == End::StopInReport)
            cb.stopTaskWiFiBox();
        if (r.sizes.size() == 2 && end == End::RestartInReport)
            cb.startWiFiBox();
    };
    cb.startWiFiBox();
    if (end == End::Stop || end == End::Restart) {
        QTRY_VERIFY((atStop = r.sizes.size()) >= 3);
        cb.didReceiveResponse(frame(2).size()); // a part half received
        cb.didReceiveData(frame(2).left(99));
        end == End::Stop ? cb.stopTaskWiFiBox() : cb.startWiFiBox();
        QCOMPARE(cb.isStreaming(), restarts);
        QCOMPARE(r.streamingAtEnd.size(), 0); // not from inside the call
    }
    QTRY_COMPARE(r.streamingAtEnd.size(), 1);
    // The end of a replaced transfer comes once the new one runs.
    QCOMPARE(r.streamingAtEnd, QList{restarts});
    if (restarts) {
        QTRY_VERIFY(r.sizes.size() >= atStop + 3);
        QCOMPARE(r.sizes[atStop], StreamParts::frameSize(0)); // the new transfer's first frame
    }
    QTest::qWait(300); // the server goes on writing; no stream reconnects by itself
    QCOMPARE(r.streamingAtEnd.size(), 1);
    QCOMPARE(server.requestLines().size(), qsizetype(restarts ? 2 : end != End::Refused));
    if (!restarts)
        QCOMPARE(r.sizes.size(), atStop);
    QVERIFY(!r.sizes.contains(QSize()));
}

void tst_CameraBuffer::sharedInstance()
{
    // First calls from many threads at once make one instance, on the main
    // thread, with one frame-rate timer there.
    CameraBuffer::releaseSharedInstance();
    std::vector<std::thread> threads;
    std::atomic<CameraBuffer *> seen[8] = {};
    std::latch start(8);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            seen[i] = &CameraBuffer::shareInstance();
        });
    for (std::thread &t : threads)
        t.join();
    CameraBuffer *made = &CameraBuffer::shareInstance();
    for (const auto &p : seen)
        QCOMPARE(p.load(), made);
    QCOMPARE(made->thread(), qApp->thread());
    Recorder r;
    made->setDelegate(&r);
    QTRY_VERIFY_WITH_TIMEOUT(r.fps.size() >= 2, 10000); // every second, without a stream too
    QCOMPARE(r.fps.first(), 0);
    QVERIFY(!r.offMainThread);
    // A released instance's timer goes with it; the next one starts afresh.
    CameraBuffer::releaseSharedInstance();
    const qsizetype reports = r.fps.size();
    QCOMPARE(CameraBuffer::shareInstance().delegate(), nullptr);
    QTest::qWait(1500);
    QCOMPARE(r.fps.size(), reports);
}

QTEST_GUILESS_MAIN(tst_CameraBuffer)
#include "tst_CameraBuffer.moc"
