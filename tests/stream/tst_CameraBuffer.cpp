#include "stream/CameraBuffer.h"

#include "platform/CameraAddress.h"
#include "support/LoopbackServer.h"
#include "support/ProcessFigures.h"
#include "support/StreamParts.h"

#include <QTest>
#include <QTimer>

namespace
{

// The reports, with what the client looked like when they came.
struct Recorder : CameraBufferDelegate {
    QList<qint64> fps;
    QList<int> frames;              // which test frames, told by their widths
    QList<bool> streamingAtEnd;     // one per disconnection
    bool stopAtSecondFrame = false; // from inside its report
    void cameraFPS(qint64 n) override { fps << n; }
    void cameraBufferImage(const QImage &image) override
    {
        frames << (image.width() - 24) / 8;
        if (stopAtSecondFrame && frames.size() == 2)
            CameraBuffer::shareInstance().stopTaskWiFiBox();
    }
    void disconnection() override { streamingAtEnd << CameraBuffer::shareInstance().isStreaming(); }
};

} // namespace

class tst_CameraBuffer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void chunks_data();
    void chunks();
    void endsOnce_data();
    void endsOnce();

private:
    Recorder r;
    const QByteArray a = StreamParts::frame(0), b = StreamParts::frame(1),
                     c = StreamParts::frame(2);
};

void tst_CameraBuffer::init()
{
    CameraBuffer &cb = CameraBuffer::shareInstance(); // with nothing of the test before
    cb.stopTaskWiFiBox();
    QCoreApplication::processEvents(); // the stopped transfer's end, to the last test's r
    cb.resetFPSData();
    cb.clearData();
    cb.didReceiveResponse(-1);
    r = Recorder();
    cb.setDelegate(&r);
}

void tst_CameraBuffer::chunks_data()
{
    // A qint64 starts a part with that declared length; a QByteArray is a chunk of it.
    QTest::addColumn<QVariantList>("steps");
    QTest::addColumn<QList<int>>("shown"); // the frames, by index
    QTest::addColumn<int>("counted");      // completed parts, in the next frame-rate report
    const auto n = [](const QByteArray &bytes, qint64 more = 0) { return bytes.size() + more; };
    QTest::newRow("whole at the declared length")
        << QVariantList{n(c), c.left(100), QByteArray(), c.mid(100), n(b), b.chopped(2), b.right(2)}
        << QList{2, 1} << 2;
    QTest::newRow("declared too long: given up at the marker")
        << QVariantList{n(a, 10), a.left(300), a.mid(300), n(a), a} << QList{0} << 1;
    QTest::newRow("declared too short: never cut and shown")
        << QVariantList{n(a, -100), a} << QList<int>() << 0;
    QTest::newRow("leftovers complete no part; a marker counts at a chunk's end only")
        << QVariantList{n(a), a.left(200), n(b), b.chopped(1), b.right(1), n(b), b, n(c), c}
        << QList{2} << 1;
    const QByteArray broken = a.left(20) + a.right(2), hello = "hello";
    QTest::newRow("complete but no picture: counted, not shown")
        << QVariantList{n(hello), hello, n(a), a, n(broken), broken} << QList{0} << 3;
    const QVariantList flood(900, QByteArray(64 * 1024, 'x'));
    QTest::newRow("no length and no marker: given up at the cap")
        << flood + QVariantList{QByteArray("\xFF\xD9"), n(c), c} << QList{2} << 1;
}

void tst_CameraBuffer::chunks()
{
    QFETCH(QVariantList, steps);
    QFETCH(QList<int>, shown);
    QFETCH(int, counted);
    CameraBuffer &cb = CameraBuffer::shareInstance();
    const qint64 heapBefore = processfigures::heapInUse();
    for (const QVariant &step : steps) {
        step.typeId() == QMetaType::LongLong ? cb.didReceiveResponse(step.toLongLong())
                                             : cb.didReceiveData(step.toByteArray());
        // The part buffer grows up to the cap, and no further.
        QVERIFY(processfigures::heapInUse() - heapBefore < CameraBuffer::kMaxPartBytes + (2 << 20));
    }
    QCOMPARE(r.frames, shown);
    QCOMPARE(cb.bufferedBytes(), 0); // given up or shown, no part stays
    cb.resetFPSData();
    cb.resetFPSData();
    QCOMPARE(r.fps, (QList<qint64>{counted, 0}));
}

void tst_CameraBuffer::endsOnce_data()
{
    QTest::addColumn<bool>("restart"); // or a stop from inside a frame report
    QTest::newRow("restart") << true;
    QTest::newRow("stop from inside a frame report") << false;
}

void tst_CameraBuffer::endsOnce()
{
    QFETCH(bool, restart);
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        socket->write(StreamParts::httpHead("multipart/x-mixed-replace;boundary=myboundary"));
        auto *timer = new QTimer(socket); // frames 0, 1 and 2 in turn, one every 20 ms
        connect(timer, &QTimer::timeout, socket, [&, socket, n = 0]() mutable {
            socket->write(StreamParts().raw("\r\n").part(QList{a, b, c}[n++ % 3]).bytes());
        });
        timer->start(20);
    });
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
    CameraBuffer &cb = CameraBuffer::shareInstance();
    qsizetype atStop = 2; // frames of the first transfer
    r.stopAtSecondFrame = !restart;
    cb.startWiFiBox();
    if (restart) {
        QTRY_VERIFY((atStop = r.frames.size()) >= 3);
        cb.didReceiveResponse(c.size()); // a part half received
        cb.didReceiveData(c.left(99));
        cb.startWiFiBox();
        QVERIFY(cb.isStreaming() && r.streamingAtEnd.isEmpty()); // no end from inside the call
    }
    QTRY_COMPARE(r.streamingAtEnd, QList{restart}); // a replaced one's end: once the new runs
    QTRY_VERIFY(r.frames.size() >= atStop + 3 * restart);
    QTest::qWait(300); // the server goes on writing; the client does not reconnect by itself
    QCOMPARE(r.streamingAtEnd.size(), 1);
    QCOMPARE(server.requestLines().size(), restart ? 2 : 1);
    QCOMPARE(r.frames.size() > atStop, restart);
    for (qsizetype i = 0; i < r.frames.size(); ++i) // after a restart, from frame 0 again
        QCOMPARE(r.frames[i], (i < atStop ? i : i - atStop) % 3);
}

QTEST_GUILESS_MAIN(tst_CameraBuffer)
#include "tst_CameraBuffer.moc"
