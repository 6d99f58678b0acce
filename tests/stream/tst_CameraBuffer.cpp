#include "stream/CameraBuffer.h"
#include "stream/MultipartFixtures.h"
#include "stream/MultipartParser.h"

#include "platform/CameraAddress.h"
#include "support/LoopbackServer.h"
#include "support/TestImages.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <malloc.h>

#include <latch>
#include <numeric>
#include <thread>

namespace
{

// Records every report, with what the client looked like when it came.
class Recorder : public CameraBufferDelegate
{
public:
    QList<qint64> fps;
    QList<bool> fpsOnMainThread;
    QList<QImage> images;
    int disconnections = 0;
    QList<bool> streamingAtDisconnection;
    QList<qsizetype> imagesAtDisconnection;
    std::function<void()> onImage;

    void cameraFPS(qint64 frames) override
    {
        fps << frames;
        fpsOnMainThread << (QThread::currentThread() == QCoreApplication::instance()->thread());
    }
    void cameraBufferImage(const QImage &image) override
    {
        images << image;
        if (onImage)
            onImage();
    }
    void disconnection() override
    {
        ++disconnections;
        streamingAtDisconnection << CameraBuffer::shareInstance().isStreaming();
        imagesAtDisconnection << images.size();
    }
    QList<QSize> sizes() const
    {
        QList<QSize> out;
        for (const QImage &image : images)
            out << image.size();
        return out;
    }
};

// Makes the recorder the shared client's delegate for one scope, and clears
// it before the recorder goes away.
struct Delegated {
    explicit Delegated(Recorder &r) { CameraBuffer::shareInstance().setDelegate(&r); }
    ~Delegated()
    {
        if (CameraBuffer::hasSharedInstance())
            CameraBuffer::shareInstance().setDelegate(nullptr);
    }
};

// A client with an empty buffer, a zero frame count and no part in progress.
CameraBuffer &freshChunkPath()
{
    CameraBuffer &cb = CameraBuffer::shareInstance();
    cb.setDelegate(nullptr);
    cb.clearData();
    cb.didReceiveResponse(-1);
    cb.resetFPSData();
    return cb;
}

const QByteArray kStreamHead = "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;"
                               "boundary=myboundary\r\nConnection: close\r\n\r\n";

QByteArray frame(int index)
{
    const QByteArray jpeg = fixtures::frameJpeg(index);
    return "\r\n--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " +
           QByteArray::number(jpeg.size()) + "\r\n\r\n" + jpeg;
}

// A server that streams frames every periodMs to each client, until it goes.
LoopbackServer::Responder streaming(int periodMs)
{
    return [periodMs](QTcpSocket *socket, const QByteArray &) {
        socket->write(kStreamHead);
        auto *timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, socket, [socket, n = 0]() mutable {
            if (socket->state() == QAbstractSocket::ConnectedState)
                socket->write(frame(n++ % 6));
        });
        timer->start(periodMs);
    };
}

// Mean difference per channel between a delivered frame and the test picture.
double difference(const QImage &frame, int index)
{
    const QSize size = fixtures::frameSize(index);
    const QImage want = testimages::picture(size.width(), size.height(), index);
    if (frame.size() != size)
        return 255;
    double sum = 0;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const QRgb a = frame.pixel(x, y), b = want.pixel(x, y);
            sum += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                   std::abs(qBlue(a) - qBlue(b));
        }
    return sum / (3.0 * size.width() * size.height());
}

size_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

} // namespace

class tst_CameraBuffer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();

    // The chunk path, driven directly.
    void partCompletesAtItsDeclaredLength();
    void lastChunkCompletingTheLengthWithMarkerDelivers();
    void markerAtChunkEndGivesThePartUp();
    void markerSplitOverTwoChunksKeepsTheBuffer();
    void undecodablePartIsCounted();
    void leftoversNeverCompleteUntilAChunkEndsWithTheMarker();
    void noDelegateStillConsumesAndResets();
    void partBufferIsCapped_data();
    void partBufferIsCapped();
    void wrongLengthCostsOneFrameAtEveryCut();

    // Through a loopback server.
    void framesFromEveryFraming_data();
    void framesFromEveryFraming();
    void frameArrivesBeforeTheNextDelimiter();
    void frameRateCountsEveryCompletedPart();
    void oversizedPartOverHttpThenTheStreamGoesOn();
    void ffmpegServer();

    // Ends of transfers.
    void serverClosingIsOneDisconnection();
    void refusedConnectionIsOneDisconnection();
    void stopIsOneDisconnectionAndNoMoreFrames();
    void restartReportsTheOldEndAfterOpeningTheNew();
    void stopFromInsideAFrameReport();
    void restartFromInsideAFrameReport();

    // The shared instance and its frame-rate timer.
    void firstFrameRateReportWithoutStream();
    void frameRateReportsWithStreamThenZeroAfterStop();
    void concurrentFirstCallsMakeOneInstance();
    void firstCallFromAWorkerThread();
    void releaseThenNewInstance();
};

void tst_CameraBuffer::cleanup()
{
    if (!CameraBuffer::hasSharedInstance())
        return;
    CameraBuffer &cb = CameraBuffer::shareInstance();
    cb.setDelegate(nullptr);
    cb.stopTaskWiFiBox();
    // Let the stopped transfer report its end now, to nobody, rather than to
    // the next test's delegate.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

void tst_CameraBuffer::partCompletesAtItsDeclaredLength()
{
    CameraBuffer &cb = freshChunkPath();
    Recorder r;
    Delegated d(r);
    const QByteArray jpeg = fixtures::frameJpeg(2);
    cb.didReceiveResponse(jpeg.size());
    cb.didReceiveData(QByteArrayView(jpeg).first(100));
    cb.didReceiveData(QByteArrayView(jpeg).sliced(100, 0));
    cb.didReceiveData(QByteArrayView(jpeg).sliced(100, 400));
    QVERIFY(r.images.isEmpty());
    QCOMPARE(cb.bufferedBytes(), 500);
    cb.didReceiveData(QByteArrayView(jpeg).sliced(500));
    QCOMPARE(r.images.size(), 1);
    QCOMPARE(r.images[0].format(), QImage::Format_RGB32);
    QVERIFY(difference(r.images[0], 2) < 6);
    QCOMPARE(cb.bufferedBytes(), 0);
    cb.resetFPSData();
    QCOMPARE(r.fps, QList<qint64>{1});
}

void tst_CameraBuffer::lastChunkCompletingTheLengthWithMarkerDelivers()
{
    CameraBuffer &cb = freshChunkPath();
    Recorder r;
    Delegated d(r);
    const QByteArray jpeg = fixtures::frameJpeg(1);
    QVERIFY(jpeg.endsWith("\xFF\xD9"));
    cb.didReceiveResponse(jpeg.size()); // the marker alone completes the length
    cb.didReceiveData(QByteArrayView(jpeg).chopped(2));
    cb.didReceiveData(QByteArrayView(jpeg).last(2));
    cb.didReceiveResponse(jpeg.size()); // the whole part in one chunk
    cb.didReceiveData(jpeg);
    QCOMPARE(r.sizes(), (QList<QSize>{fixtures::frameSize(1), fixtures::frameSize(1)}));
    QCOMPARE(cb.bufferedBytes(), 0);
}

void tst_CameraBuffer::markerAtChunkEndGivesThePartUp()
{
    CameraBuffer &cb = freshChunkPath();
    Recorder r;
    Delegated d(r);
    const QByteArray jpeg = fixtures::frameJpeg(0);
    cb.didReceiveResponse(jpeg.size() + 10); // declared too long
    cb.didReceiveData(QByteArrayView(jpeg).first(300));
    QCOMPARE(cb.bufferedBytes(), 300);
    cb.didReceiveData(QByteArrayView(jpeg).sliced(300));
    QCOMPARE(cb.bufferedBytes(), 0); // given up, not delivered
    QVERIFY(r.images.isEmpty());
    cb.didReceiveResponse(jpeg.size()); // the next part starts clean
    cb.didReceiveData(jpeg);
    QCOMPARE(r.images.size(), 1);
    cb.resetFPSData();
    QCOMPARE(r.fps, QList<qint64>{1}); // the given-up part is not counted
}

void tst_CameraBuffer::markerSplitOverTwoChunksKeepsTheBuffer()
{
    CameraBuffer &cb = freshChunkPath();
    Recorder r;
    Delegated d(r);
    cb.didReceiveResponse(1000);
    cb.didReceiveData("abc\xFF");
    cb.didReceiveData("\xD9");
    QCOMPARE(cb.bufferedBytes(), 5); // one byte never ends with the marker
    cb.didReceiveData("x\xFF");
    cb.didReceiveData("\xD9yz");
    QCOMPARE(cb.bufferedBytes(), 10);
    cb.didReceiveData("ab\xFF\xD9"
                      "cd"); // a marker inside a chunk is any other byte pair
    QCOMPARE(cb.bufferedBytes(), 16);
    cb.didReceiveData("\xFF\xD9");
    QCOMPARE(cb.bufferedBytes(), 0);
    QVERIFY(r.images.isEmpty());
}

void tst_CameraBuffer::undecodablePartIsCounted()
{
    // Complete parts that do not decode: counted, not delivered, and no harm
    // to the pictures after them.
    CameraBuffer &cb = freshChunkPath();
    Recorder r;
    Delegated d(r);
    QByteArray hugeHeader = fixtures::frameJpeg(0);
    const qsizetype sof = hugeHeader.indexOf("\xFF\xC0");
    QVERIFY(sof > 0);
    hugeHeader.replace(sof + 5, 4, "\xFF\xFF\xFF\xFF"); // 65535 x 65535
    QByteArray noTables = fixtures::frameJpeg(1);
    noTables.replace(noTables.indexOf("\xFF\xC4") + 2, 2, "\x00\x03"); // a broken table length
    const QList<QByteArray> parts = {"hello",    fixtures::frameJpeg(0),
                                     hugeHeader, fixtures::frameJpeg(1),
                                     noTables,   fixtures::frameJpeg(2)};
    for (const QByteArray &part : parts) {
        cb.didReceiveResponse(part.size());
        cb.didReceiveData(part);
        QCOMPARE(cb.bufferedBytes(), 0);
    }
    QCOMPARE(r.sizes(), (QList<QSize>{fixtures::frameSize(0), fixtures::frameSize(1),
                                      fixtures::frameSize(2)}));
    cb.resetFPSData();
    QCOMPARE(r.fps, QList<qint64>{6});
    cb.resetFPSData();
    QCOMPARE(r.fps, (QList<qint64>{6, 0}));
}

void tst_CameraBuffer::leftoversNeverCompleteUntilAChunkEndsWithTheMarker()
{
    CameraBuffer &cb = freshChunkPath();
    Recorder r;
    Delegated d(r);
    const QByteArray a = fixtures::frameJpeg(0), b = fixtures::frameJpeg(1);
    cb.didReceiveResponse(a.size());
    cb.didReceiveData(QByteArrayView(a).first(200)); // the rest of a never comes
    cb.didReceiveResponse(b.size());
    QCOMPARE(cb.bufferedBytes(), 200); // a new part does not wipe the buffer
    cb.didReceiveData(QByteArrayView(b).chopped(1));
    cb.didReceiveData(QByteArrayView(b).last(1));
    QCOMPARE(cb.bufferedBytes(), 200 + b.size()); // past the length: never complete
    cb.didReceiveResponse(b.size());
    cb.didReceiveData(QByteArrayView(b).first(b.size() - 200));
    QCOMPARE(cb.bufferedBytes(), 200 + 2 * b.size() - 200);
    cb.didReceiveData(QByteArrayView(b).sliced(b.size() - 200)); // ends with the marker
    QCOMPARE(cb.bufferedBytes(), 0);
    QVERIFY(r.images.isEmpty());
    cb.didReceiveResponse(b.size());
    cb.didReceiveData(b);
    QCOMPARE(r.sizes(), QList<QSize>{fixtures::frameSize(1)});
    cb.resetFPSData();
    QCOMPARE(r.fps, QList<qint64>{1});
}

void tst_CameraBuffer::noDelegateStillConsumesAndResets()
{
    CameraBuffer &cb = freshChunkPath();
    const QByteArray jpeg = fixtures::frameJpeg(0);
    for (int i = 0; i < 3; ++i) {
        cb.didReceiveResponse(jpeg.size());
        cb.didReceiveData(jpeg);
        QCOMPARE(cb.bufferedBytes(), 0);
    }
    cb.resetFPSData(); // nobody to tell; the count is dropped all the same
    Recorder r;
    Delegated d(r);
    cb.resetFPSData();
    QCOMPARE(r.fps, QList<qint64>{0});
}

void tst_CameraBuffer::partBufferIsCapped_data()
{
    QTest::addColumn<qint64>("declared");
    QTest::newRow("no length") << qint64(-1);
    QTest::newRow("2^62") << (qint64(1) << 62);
}

void tst_CameraBuffer::partBufferIsCapped()
{
    // A part that never reaches its length and whose chunks never end with
    // the marker: the buffer stays within the cap, and the stream goes on.
    QFETCH(qint64, declared);
    CameraBuffer::releaseSharedInstance(); // start from a buffer that never grew
    CameraBuffer &cb = freshChunkPath();
    Recorder r;
    Delegated d(r);
    const size_t heapBefore = heapInUse();
    size_t heapPeak = heapBefore;
    QByteArray chunk(64 * 1024, 'x');
    chunk[0] = char(0xFF);
    chunk[chunk.size() - 1] = char(0xD8);
    cb.didReceiveResponse(declared);
    qsizetype sent = 0;
    while (sent < CameraBuffer::kMaxPartBytes + 8 * 1024 * 1024) {
        cb.didReceiveData(chunk);
        sent += chunk.size();
        QVERIFY2(cb.bufferedBytes() <= CameraBuffer::kMaxPartBytes,
                 qPrintable(QString::number(cb.bufferedBytes())));
        heapPeak = std::max(heapPeak, heapInUse());
    }
    QCOMPARE(cb.bufferedBytes(), 0); // given up when the cap was reached
    cb.didReceiveData("end of the oversized part\xFF\xD9");
    const size_t headroom = 2 * 1024 * 1024;
    QVERIFY2(heapPeak - heapBefore <= size_t(CameraBuffer::kMaxPartBytes) + headroom,
             qPrintable(QStringLiteral("the heap grew by %1 MiB for a %2 MiB cap")
                            .arg((heapPeak - heapBefore) >> 20)
                            .arg(CameraBuffer::kMaxPartBytes >> 20)));
    const QByteArray jpeg = fixtures::frameJpeg(3);
    cb.didReceiveResponse(jpeg.size());
    cb.didReceiveData(QByteArrayView(jpeg).first(10));
    cb.didReceiveData(QByteArrayView(jpeg).sliced(10));
    QCOMPARE(r.sizes(), QList<QSize>{fixtures::frameSize(3)});
}

void tst_CameraBuffer::wrongLengthCostsOneFrameAtEveryCut()
{
    // The splitter feeding the client, with the stream cut at every byte: a
    // part with a wrong or missing length costs that part only.
    fixtures::StreamBuilder b;
    QList<QSize> expected;
    const QList<qint64> offsets = {0, +500, 0, -1, 0, -100, 0};
    for (int i = 0; i < offsets.size(); ++i) {
        const QByteArray jpeg = fixtures::frameJpeg(i);
        b.raw("--myboundary\r\n");
        if (offsets[i] != -1)
            b.raw("Content-Length: " + QByteArray::number(jpeg.size() + offsets[i]) + "\r\n");
        b.raw("\r\n").body(jpeg, 0).raw("\r\n");
        if (offsets[i] == 0)
            expected << fixtures::frameSize(i);
    }
    const QByteArray stream = b.done({}, {}).stream;
    CameraBuffer &cb = freshChunkPath();
    Recorder r;
    Delegated d(r);
    for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
        r.images.clear();
        cb.didReceiveResponse(-1);
        MultipartParser parser("myboundary",
                               {[&](qint64 declared) { cb.didReceiveResponse(declared); },
                                [&](QByteArrayView bytes) { cb.didReceiveData(bytes); }});
        parser.feed(QByteArrayView(stream).first(cut));
        parser.feed(QByteArrayView(stream).sliced(cut));
        parser.finish();
        QList<QSize> got = r.sizes();
        got.removeAll(fixtures::frameSize(5)); // too short: may or may not decode
        QVERIFY2(got == expected,
                 qPrintable(QStringLiteral("cut at %1 (between %2 and %3): %4 frames of %5")
                                .arg(cut)
                                .arg(QString::fromLatin1(stream.mid(cut - 2, 2).toHex()))
                                .arg(QString::fromLatin1(stream.mid(cut, 2).toHex()))
                                .arg(got.size())
                                .arg(expected.size())));
        QCOMPARE(cb.bufferedBytes(), 0);
    }
}

void tst_CameraBuffer::framesFromEveryFraming_data()
{
    QTest::addColumn<int>("index");
    const QList<fixtures::Framing> all = fixtures::framings(true);
    for (int i = 0; i < all.size(); ++i)
        QTest::newRow(qPrintable(all[i].name)) << i;
}

void tst_CameraBuffer::framesFromEveryFraming()
{
    QFETCH(int, index);
    const fixtures::Framing f = fixtures::framings(true).at(index);
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        socket->write("HTTP/1.1 200 OK\r\nContent-type: " + f.contentType +
                      "\r\nTransfer-Encoding: chunked\r\n\r\n");
        LoopbackServer::writeSliced(socket, fixtures::chunked(f.stream, 7), 50);
        socket->disconnectFromHost();
    });
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
    Recorder r;
    Delegated d(r);
    CameraBuffer::shareInstance().startWiFiBox();
    QTRY_COMPARE_WITH_TIMEOUT(r.disconnections, 1, 10000);
    QList<QSize> expected, tolerated;
    for (const fixtures::ExpectedPart &p : f.parts) {
        if (p.lengthRight() && !p.bytes.isEmpty())
            expected << p.jpegSize;
        else if (p.declared >= 0 && p.declared < p.bytes.size())
            tolerated << p.jpegSize; // cut short: whether it decodes depends on the reads
    }
    QList<QSize> got = r.sizes();
    for (const QSize &s : tolerated)
        got.removeAll(s);
    QCOMPARE(got, expected);
    for (const QImage &image : r.images)
        for (int i = 0; i < 10; ++i)
            if (image.size() == fixtures::frameSize(i))
                QVERIFY(difference(image, i) < 6);
    QCOMPARE(server.requestLines(), QList<QByteArray>{"GET /?action=stream HTTP/1.1"});
}

void tst_CameraBuffer::frameArrivesBeforeTheNextDelimiter()
{
    QPointer<QTcpSocket> client;
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        client = socket;
        socket->write(kStreamHead);
    });
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
    Recorder r;
    Delegated d(r);
    CameraBuffer::shareInstance().startWiFiBox();
    QTRY_VERIFY(client);
    for (int i = 0; i < 3; ++i) {
        client->write(frame(i)); // nothing after the picture until the next frame
        QTRY_COMPARE(r.images.size(), i + 1);
        QCOMPARE(r.images[i].size(), fixtures::frameSize(i));
    }
    QCOMPARE(r.disconnections, 0);
}

void tst_CameraBuffer::frameRateCountsEveryCompletedPart()
{
    // 12 pictures and 3 complete parts that do not decode, then the end: the
    // reports must add up to 15, whichever seconds they fell into.
    QByteArray body;
    for (int i = 0; i < 15; ++i) {
        QByteArray part = fixtures::frameJpeg(i % 4);
        if (i % 5 == 4)
            part = QByteArray("not a picture, but complete ") + QByteArray::number(i);
        body += "\r\n--myboundary\r\nContent-Length: " + QByteArray::number(part.size()) +
                "\r\n\r\n" + part;
    }
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        socket->write(kStreamHead);
        LoopbackServer::writeSliced(socket, body, 333);
        socket->disconnectFromHost();
    });
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
    CameraBuffer &cb = freshChunkPath();
    Recorder r;
    Delegated d(r);
    cb.startWiFiBox();
    QTRY_COMPARE_WITH_TIMEOUT(r.disconnections, 1, 10000);
    const qsizetype reportsAtEnd = r.fps.size();
    QTRY_VERIFY_WITH_TIMEOUT(r.fps.size() >= reportsAtEnd + 2, 10000);
    QCOMPARE(r.images.size(), 12);
    QCOMPARE(std::accumulate(r.fps.begin(), r.fps.end(), qint64(0)), 15);
    QCOMPARE(r.fps.last(), 0);
}

void tst_CameraBuffer::oversizedPartOverHttpThenTheStreamGoesOn()
{
    QByteArray junk(CameraBuffer::kMaxPartBytes + 4 * 1024 * 1024, 'j');
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        socket->write(kStreamHead);
        socket->write("\r\n--myboundary\r\nContent-Type: image/jpeg\r\n\r\n");
        socket->write(junk);
        for (int i = 0; i < 3; ++i)
            socket->write(frame(i));
        socket->disconnectFromHost();
    });
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
    Recorder r;
    Delegated d(r);
    CameraBuffer::shareInstance().startWiFiBox();
    QTRY_COMPARE_WITH_TIMEOUT(r.disconnections, 1, 30000);
    QCOMPARE(r.sizes(), (QList<QSize>{fixtures::frameSize(0), fixtures::frameSize(1),
                                      fixtures::frameSize(2)}));
}

void tst_CameraBuffer::ffmpegServer()
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        QSKIP("the ffmpeg binary is not installed");
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(ffmpeg, {"-hide_banner",
                          "-loglevel",
                          "error",
                          "-nostdin",
                          "-re",
                          "-f",
                          "lavfi",
                          "-i",
                          "testsrc2=size=640x480:rate=10",
                          "-t",
                          "60",
                          "-c:v",
                          "mjpeg",
                          "-f",
                          "mpjpeg",
                          "-content_type",
                          "multipart/x-mixed-replace;boundary=ffmpeg",
                          "-listen",
                          "1",
                          base + "/"});
    QVERIFY(server.waitForStarted());
    QVERIFY(CameraAddress::setBaseUrl(QUrl(base)));
    Recorder r;
    Delegated d(r);
    CameraBuffer &cb = CameraBuffer::shareInstance();
    // ffmpeg listens only once it has its input ready: retry refused
    // connections until it answers.
    QElapsedTimer waiting;
    waiting.start();
    cb.startWiFiBox();
    while (r.images.isEmpty() && waiting.elapsed() < 30000 && server.state() == QProcess::Running) {
        QTest::qWait(50);
        if (r.disconnections > 0 && r.images.isEmpty() && !cb.isStreaming()) {
            r.disconnections = 0;
            cb.startWiFiBox();
        }
    }
    QTRY_VERIFY_WITH_TIMEOUT(r.images.size() >= 10, 30000);
    for (const QImage &image : r.images)
        QCOMPARE(image.size(), QSize(640, 480));
    QTRY_VERIFY_WITH_TIMEOUT(
        std::any_of(r.fps.begin(), r.fps.end(), [](qint64 n) { return n > 0; }), 10000);
    const int endsBefore = r.disconnections;
    cb.stopTaskWiFiBox();
    QTRY_COMPARE(r.disconnections, endsBefore + 1);
    server.kill();
    server.waitForFinished();
}

void tst_CameraBuffer::serverClosingIsOneDisconnection()
{
    LoopbackServer server([](QTcpSocket *socket, const QByteArray &) {
        socket->write(kStreamHead + frame(0) + frame(1));
        socket->disconnectFromHost();
    });
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
    Recorder r;
    Delegated d(r);
    CameraBuffer &cb = CameraBuffer::shareInstance();
    cb.startWiFiBox();
    QTRY_COMPARE(r.disconnections, 1);
    QCOMPARE(r.streamingAtDisconnection, QList<bool>{false});
    QTest::qWait(300);
    QCOMPARE(r.disconnections, 1);
    QCOMPARE(r.images.size(), 2);
    QCOMPARE(server.requestLines().size(), 1); // no reconnection of its own
}

void tst_CameraBuffer::refusedConnectionIsOneDisconnection()
{
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    QVERIFY(CameraAddress::setBaseUrl(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port))));
    Recorder r;
    Delegated d(r);
    CameraBuffer::shareInstance().startWiFiBox();
    QTRY_COMPARE(r.disconnections, 1);
    QTest::qWait(300);
    QCOMPARE(r.disconnections, 1);
    QVERIFY(r.images.isEmpty());
}

void tst_CameraBuffer::stopIsOneDisconnectionAndNoMoreFrames()
{
    LoopbackServer server(streaming(20));
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
    Recorder r;
    Delegated d(r);
    CameraBuffer &cb = CameraBuffer::shareInstance();
    cb.startWiFiBox();
    QTRY_VERIFY(r.images.size() >= 3);
    QVERIFY(cb.isStreaming());
    cb.stopTaskWiFiBox();
    QVERIFY(!cb.isStreaming());
    QTRY_COMPARE(r.disconnections, 1);
    QTest::qWait(300); // the server goes on writing
    QCOMPARE(r.disconnections, 1);
    QCOMPARE(r.images.size(), r.imagesAtDisconnection[0]);
    QCOMPARE(server.requestLines().size(), 1);
}

void tst_CameraBuffer::restartReportsTheOldEndAfterOpeningTheNew()
{
    LoopbackServer server(streaming(20));
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
    Recorder r;
    Delegated d(r);
    CameraBuffer &cb = CameraBuffer::shareInstance();
    cb.startWiFiBox();
    QTRY_VERIFY(r.images.size() >= 3);
    cb.startWiFiBox();
    QCOMPARE(r.disconnections, 0); // not from inside the restart
    QTRY_COMPARE(r.disconnections, 1);
    QCOMPARE(r.streamingAtDisconnection, QList<bool>{true}); // the new one was open
    QTRY_VERIFY(r.images.size() >= r.imagesAtDisconnection[0] + 3);
    QCOMPARE(r.disconnections, 1);
    QCOMPARE(server.requestLines().size(), 2);
}

void tst_CameraBuffer::stopFromInsideAFrameReport()
{
    QByteArray many = kStreamHead;
    for (int i = 0; i < 12; ++i)
        many += frame(i % 6);
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) { socket->write(many); });
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
    Recorder r;
    Delegated d(r);
    CameraBuffer &cb = CameraBuffer::shareInstance();
    r.onImage = [&] {
        if (r.images.size() == 2)
            cb.stopTaskWiFiBox();
    };
    cb.startWiFiBox();
    QTRY_COMPARE(r.disconnections, 1);
    QTest::qWait(200);
    QCOMPARE(r.images.size(), 2);
    QCOMPARE(r.disconnections, 1);
}

void tst_CameraBuffer::restartFromInsideAFrameReport()
{
    LoopbackServer server(streaming(20));
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
    Recorder r;
    Delegated d(r);
    CameraBuffer &cb = CameraBuffer::shareInstance();
    r.onImage = [&] {
        if (r.images.size() == 2)
            cb.startWiFiBox();
    };
    cb.startWiFiBox();
    QTRY_COMPARE(r.disconnections, 1);
    QCOMPARE(r.streamingAtDisconnection, QList<bool>{true});
    QTRY_VERIFY(r.images.size() >= 6);
    QCOMPARE(r.disconnections, 1);
    QCOMPARE(server.requestLines().size(), 2);
}

void tst_CameraBuffer::firstFrameRateReportWithoutStream()
{
    CameraBuffer::releaseSharedInstance();
    Recorder r;
    QElapsedTimer clock;
    clock.start();
    CameraBuffer::shareInstance().setDelegate(&r);
    Delegated d(r);
    QCoreApplication::processEvents();
    QVERIFY(r.fps.isEmpty()); // one interval after creation, not at once
    QTRY_VERIFY_WITH_TIMEOUT(!r.fps.isEmpty(), 10000);
    qInfo("first frame-rate report %lld ms after creation", qint64(clock.elapsed()));
    QCOMPARE(r.fps.first(), 0);
    QCOMPARE(r.fpsOnMainThread.first(), true);
}

void tst_CameraBuffer::frameRateReportsWithStreamThenZeroAfterStop()
{
    LoopbackServer server(streaming(30));
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
    CameraBuffer::releaseSharedInstance();
    Recorder r;
    Delegated d(r);
    CameraBuffer &cb = CameraBuffer::shareInstance();
    cb.startWiFiBox();
    QTRY_VERIFY_WITH_TIMEOUT(!r.fps.isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(
        std::any_of(r.fps.begin(), r.fps.end(), [](qint64 n) { return n > 0; }), 10000);
    cb.stopTaskWiFiBox();
    QTRY_COMPARE(r.disconnections, 1);
    // The report in progress may still hold frames from before the stop;
    // every one after it is 0.
    const qsizetype atStop = r.fps.size();
    QTRY_VERIFY_WITH_TIMEOUT(r.fps.size() >= atStop + 3, 10000);
    const QList<qint64> after = r.fps.mid(atStop + 1);
    QVERIFY(std::all_of(after.begin(), after.end(), [](qint64 n) { return n == 0; }));
}

void tst_CameraBuffer::concurrentFirstCallsMakeOneInstance()
{
    CameraBuffer::releaseSharedInstance();
    QVERIFY(!CameraBuffer::hasSharedInstance());
    constexpr int kThreads = 8;
    std::latch start(kThreads + 1);
    std::array<CameraBuffer *, kThreads> seen{};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            seen[size_t(i)] = &CameraBuffer::shareInstance();
        });
    QElapsedTimer clock;
    clock.start();
    start.arrive_and_wait();
    CameraBuffer *mine = &CameraBuffer::shareInstance();
    for (std::thread &t : threads)
        t.join();
    for (CameraBuffer *p : seen)
        QCOMPARE(p, mine);
    QCOMPARE(mine->thread(), QCoreApplication::instance()->thread());

    Recorder r;
    Delegated d(r);
    QTRY_VERIFY_WITH_TIMEOUT(r.fps.size() >= 3, 15000);
    QVERIFY(
        std::all_of(r.fpsOnMainThread.begin(), r.fpsOnMainThread.end(), [](bool b) { return b; }));
    // One timer: a report a second at most (a second timer would double it;
    // a busy machine only ever delays reports).
    const qint64 elapsedMs = clock.elapsed();
    QVERIFY2(r.fps.size() <= elapsedMs / 1000 + 1,
             qPrintable(QStringLiteral("%1 reports in %2 ms").arg(r.fps.size()).arg(elapsedMs)));
}

void tst_CameraBuffer::firstCallFromAWorkerThread()
{
    CameraBuffer::releaseSharedInstance();
    CameraBuffer *made = nullptr;
    std::thread([&] { made = &CameraBuffer::shareInstance(); }).join();
    QVERIFY(made);
    QCOMPARE(&CameraBuffer::shareInstance(), made);
    QCOMPARE(made->thread(), QCoreApplication::instance()->thread());
    Recorder r;
    Delegated d(r);
    QTRY_VERIFY_WITH_TIMEOUT(r.fps.size() >= 2, 10000);
    QVERIFY(
        std::all_of(r.fpsOnMainThread.begin(), r.fpsOnMainThread.end(), [](bool b) { return b; }));

    // And it streams like any other.
    LoopbackServer server(streaming(20));
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
    made->startWiFiBox();
    QTRY_VERIFY(r.images.size() >= 3);
}

void tst_CameraBuffer::releaseThenNewInstance()
{
    LoopbackServer server(streaming(20));
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
    Recorder old;
    CameraBuffer &first = CameraBuffer::shareInstance();
    first.setDelegate(&old);
    first.startWiFiBox();
    QTRY_VERIFY(old.images.size() >= 2);
    CameraBuffer::releaseSharedInstance();
    QVERIFY(!CameraBuffer::hasSharedInstance());
    const qsizetype oldImages = old.images.size(), oldReports = old.fps.size();

    Recorder r;
    CameraBuffer &second = CameraBuffer::shareInstance();
    QCOMPARE(second.delegate(), nullptr); // a fresh instance
    QVERIFY(!second.isStreaming());
    QCOMPARE(second.bufferedBytes(), 0);
    second.setDelegate(&r);
    Delegated d(r);
    QTRY_VERIFY_WITH_TIMEOUT(r.fps.size() >= 2, 10000);
    QCOMPARE(r.fps.first(), 0);
    second.startWiFiBox();
    QTRY_VERIFY(r.images.size() >= 3);
    // The released instance's timer and transfer are gone with it.
    QCOMPARE(old.images.size(), oldImages);
    QCOMPARE(old.fps.size(), oldReports);
    QCOMPARE(server.requestLines().size(), 2);
}

QTEST_GUILESS_MAIN(tst_CameraBuffer)
#include "tst_CameraBuffer.moc"
