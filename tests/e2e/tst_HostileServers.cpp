// The live stream against servers that send what no camera box should: its memory
// stays bounded, the end is reported once, and the next start streams again.

#include "platform/CameraAddress.h"
#include "stream/CameraBuffer.h"
#include "support/ProcessFigures.h"
#include "support/StreamParts.h"
#include "support/TestImages.h"
#include "support/ThreadedServer.h"

#include <QTest>
#include <QTimer>

namespace
{

constexpr qint64 kMiB = 1024 * 1024;
const QByteArray kHead = StreamParts::httpHead("multipart/x-mixed-replace;boundary=myboundary");

// One part, after the line break that ends whatever came before it.
QByteArray part(const QByteArray &body, bool withLength = true)
{
    return StreamParts().raw("\r\n").part(body, withLength ? body.size() : -1).bytes();
}

// A stream of first, then unit over and over up to total bytes, as fast as taken.
ThreadedServer::Responder answer(QByteArray first, QByteArray unit, qint64 total)
{
    const QByteArray block = unit.repeated(std::max<qsizetype>(1, 256 * 1024 / unit.size()));
    return [=](const QByteArray &) {
        return ThreadedServer::Answer{
            kHead, [=](qint64 sent) { return sent ? block.left(total - sent) : first; }};
    };
}

// Takes a while over every frame, as showing it does.
struct Reports : CameraBufferDelegate {
    void cameraFPS(qint64) override {}
    void cameraBufferImage(const QImage &) override
    {
        ++frames;
        QThread::usleep(2000);
    }
    void disconnection() override { ++ends; }
    int frames = 0, ends = 0;
};

} // namespace

class tst_HostileServers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { CameraBuffer::shareInstance().setDelegate(&m_reports); }
    void cleanup() { CameraBuffer::shareInstance().setDelegate(nullptr); }
    void hostile_data();
    void hostile();

private:
    const QByteArray m_goodPart = part(testimages::jpeg(320, 240));
    ThreadedServer m_good{answer(m_goodPart, m_goodPart, qint64(1) << 40)};
    Reports m_reports;
};

void tst_HostileServers::hostile_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("unit"); // then over and over, up to total bytes
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("frames");
    const QByteArray good = part(testimages::jpeg(200, 150));
    QByteArray fat = testimages::jpeg(8, 8); // with 1 MiB of comments
    fat = part(
        fat.insert(2, (QByteArray::fromHex("fffeffff") + QByteArray(65533, 'c')).repeated(16)));
    QTest::newRow("a part without length or end")
        << part({}, false) << QByteArray("x") << 160 * kMiB << 0;
    // What the client has not yet taken waits in the kernel, not in this process.
    QTest::newRow("frames faster than shown") << fat << fat << 400 * fat.size() << 400;
    QTest::newRow("empty parts") << part({}) << part({}) << 32 * kMiB << 0;
    QTest::newRow("closes in a part")
        << good + good + good + good.left(500) << QByteArray("x") << 0LL << 3;
}

void tst_HostileServers::hostile()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, unit);
    QFETCH(qint64, total);
    QFETCH(int, frames);
    ThreadedServer server(answer(first, unit, total));
    CameraBuffer &cb = CameraBuffer::shareInstance();
    cb.stopTaskWiFiBox(); // the good stream of the row before, and its end
    QCoreApplication::processEvents();
    const Reports before = m_reports;
    const qint64 heapStart = processfigures::heapInUse();
    qint64 heapPeak = heapStart, buffered = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        heapPeak = std::max(heapPeak, processfigures::heapInUse());
        buffered = std::max<qint64>(buffered, cb.bufferedBytes());
    });
    watch.start(2);
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
    cb.startWiFiBox();
    QTRY_COMPARE_WITH_TIMEOUT(m_reports.ends, before.ends + 1, 60000);
    QTest::qWait(200);
    QCOMPARE(m_reports.ends, before.ends + 1);
    QCOMPARE(m_reports.frames, before.frames + frames);
    qDebug("heap +%lld MiB, part buffer %lld MiB", (heapPeak - heapStart) / kMiB, buffered / kMiB);
    // The part buffer's cap (48 MiB) and a frame or two, with room to spare.
    QVERIFY(buffered <= CameraBuffer::kMaxPartBytes && heapPeak - heapStart < 100 * kMiB);
    // Nothing of a broken part spoils the next stream.
    QVERIFY(CameraAddress::setBaseUrl(QUrl(m_good.baseUrl())));
    cb.startWiFiBox();
    QTRY_VERIFY(m_reports.frames >= before.frames + frames + 3);
    QCOMPARE(m_reports.ends, before.ends + 1);
}

QTEST_GUILESS_MAIN(tst_HostileServers)
#include "tst_HostileServers.moc"
