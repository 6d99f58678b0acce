// The viewer against stream servers that send what no camera box should. The
// memory it takes stays bounded, the end is reported once and shown, and it
// streams again from a good server once the user switches the stream on.

#include "app/MainWindow.h"
#include "platform/CameraAddress.h"
#include "stream/CameraBuffer.h"
#include "support/LogCapture.h"
#include "support/LoopbackServer.h"
#include "support/ProcessFigures.h"
#include "support/StreamParts.h"
#include "support/TestImages.h"
#include "support/ThreadedServer.h"
#include "support/ViewerFakes.h"
#include "ui_MainWindow.h"
#include "viewer/ViewController.h"

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

// The stream client's reports on their way to the controller, the frames counted.
struct Reports : CameraBufferDelegate {
    explicit Reports(ViewController &c) : controller(c) {}
    void cameraFPS(qint64 n) override { controller.cameraFPS(n); }
    void cameraBufferImage(const QImage &image) override
    {
        ++frames;
        controller.cameraBufferImage(image);
    }
    void disconnection() override { controller.disconnection(); }
    ViewController &controller;
    int frames = 0;
};

} // namespace

class tst_HostileServers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase() { CameraBuffer::shareInstance().setDelegate(nullptr); }
    void hostile_data();
    void hostile();

private:
    void switchOn(const QString &url); // the status button, from off
    const QByteArray m_goodPart = part(testimages::jpeg(320, 240));
    LoopbackServer m_good{[this](QTcpSocket *socket, const QByteArray &) {
        socket->write(kHead); // and a frame every 40 ms
        auto *timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket, [this, socket] { socket->write(m_goodPart); });
        timer->start(40);
    }};
    ViewerFakes m_fakes;
    MainWindow m_window{m_fakes.services()};
    Reports m_reports{m_window.controller()};
};

void tst_HostileServers::initTestCase()
{
    QVERIFY(CameraAddress::setBaseUrl(QUrl(m_good.baseUrl())));
    m_window.show();
    m_window.controller().viewDidLoad();
    CameraBuffer::shareInstance().setDelegate(&m_reports);
    QTRY_VERIFY_WITH_TIMEOUT(m_reports.frames >= 2, 10000);
}

void tst_HostileServers::switchOn(const QString &url)
{
    QVERIFY(CameraAddress::setBaseUrl(QUrl(url)));
    QTest::mouseClick(m_window.form().statusBtn, Qt::LeftButton);
    QVERIFY(m_window.form().statusBtn->isChecked() && CameraBuffer::shareInstance().isStreaming());
}

void tst_HostileServers::hostile_data()
{
    // Well past what a hostile server may cost: the part buffer's cap (48 MiB)
    // and a frame or two.
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("unit"); // then over and over, up to total bytes
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("frames");
    QByteArray huge = testimages::jpeg(64, 48); // declaring 65535 x 65535
    huge = part(huge.replace(huge.indexOf("\xFF\xC0") + 5, 4, "\xFF\xFF\xFF\xFF"));
    const QByteArray good = part(testimages::jpeg(200, 150));
    QTest::newRow("a part without length or end")
        << part({}, false) << QByteArray("x") << 160 * kMiB << 0;
    QTest::newRow("pictures of impossible size") << huge << huge << 300 * huge.size() << 0;
    QTest::newRow("empty parts") << part({}) << part({}) << 32 * kMiB << 0;
    QTest::newRow("closes in a part")
        << good + good + good + good.left(500) << QByteArray() << 0LL << 3;
}

void tst_HostileServers::hostile()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, unit);
    QFETCH(qint64, total);
    QFETCH(int, frames);
    const QByteArray block = unit.repeated(256 * 1024 / std::max<qsizetype>(unit.size(), 1));
    ThreadedServer server([&](const QByteArray &) {
        return ThreadedServer::Answer{
            kHead, [&](qint64 sent) { return sent ? block.left(total - sent) : first; }};
    });
    // Off first, so that only the hostile stream is measured.
    QTest::mouseClick(m_window.form().statusBtn, Qt::LeftButton);
    QTRY_VERIFY(m_window.controller().isDisconnect());
    LogCapture log;
    const int framesBefore = m_reports.frames;
    const qint64 heapStart = processfigures::heapInUse();
    qint64 heapPeak = heapStart, buffered = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        heapPeak = std::max(heapPeak, processfigures::heapInUse());
        buffered = std::max<qint64>(buffered, CameraBuffer::shareInstance().bufferedBytes());
    });
    watch.start(2);
    switchOn(server.baseUrl());
    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("中断")), 1, 60000);
    QTest::qWait(200);
    QCOMPARE(log.count(QStringLiteral("中断")), 1); // one end, shown as any end is
    QVERIFY(m_window.controller().isDisconnect() && !m_window.form().statusBtn->isChecked());
    QCOMPARE(m_reports.frames, framesBefore + frames);
    qDebug("heap +%lld MiB, part buffer %lld MiB", (heapPeak - heapStart) / kMiB, buffered / kMiB);
    QVERIFY(buffered <= CameraBuffer::kMaxPartBytes && heapPeak - heapStart < 100 * kMiB);
    // Nothing of a broken part spoils the next stream.
    switchOn(m_good.baseUrl());
    QTRY_VERIFY_WITH_TIMEOUT(m_reports.frames >= framesBefore + frames + 3, 10000);
    QCOMPARE(m_window.form().previewImgeView->image().size(), QSize(320, 240));
    QVERIFY(!m_window.controller().isDisconnect());
    QCOMPARE(log.count(QStringLiteral("中断")), 1);
}

QTEST_MAIN(tst_HostileServers)
#include "tst_HostileServers.moc"
