// The viewer against stream servers that send what no camera box should.
// Whatever they send, the memory the viewer takes stays bounded, the end of
// the stream is reported once and shown as any end is, and the viewer
// streams again from a good server once the user switches the stream on.

#include "app/MainWindow.h"
#include "platform/CameraAddress.h"
#include "stream/CameraBuffer.h"
#include "support/LogCapture.h"
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
const QByteArray kType = "multipart/x-mixed-replace;boundary=myboundary";

// The stream client's reports, counted on their way to the controller.
struct Reports : CameraBufferDelegate {
    explicit Reports(ViewController &c) : controller(c) {}
    void cameraFPS(qint64 frames) override { controller.cameraFPS(frames); }
    void cameraBufferImage(const QImage &image) override
    {
        ++frames;
        controller.cameraBufferImage(image);
    }
    void disconnection() override
    {
        ++ends;
        controller.disconnection();
    }
    ViewController &controller;
    int frames = 0, ends = 0;
};

} // namespace

class tst_HostileServers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void hostile_data();
    void hostile();

private:
    // The status button off, then on at url unless it is empty.
    void switchTo(const QString &url);
    std::unique_ptr<ThreadedServer> m_good; // 320 x 240 frames, every 40 ms
    ViewerFakes m_fakes;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<Reports> m_reports;
};

void tst_HostileServers::initTestCase()
{
    const QByteArray good = StreamParts().part(testimages::jpeg(320, 240)).bytes();
    m_good = std::make_unique<ThreadedServer>([this, good](const QByteArray &request) {
        if (!request.contains("action=stream")) // a command: done
            return ThreadedServer::Answer{
                StreamParts::httpHead("application/json", "Content-Length: 14\r\n") +
                    R"({"result":"0"})",
                {}};
        return ThreadedServer::Answer{StreamParts::httpHead(kType), [this, good](qint64 written) {
                                          return !written || m_good->sleepFor(40) ? good
                                                                                  : QByteArray();
                                      }};
    });
    QVERIFY(CameraAddress::setBaseUrl(QUrl(m_good->baseUrl())));
    m_window = std::make_unique<MainWindow>(m_fakes.services());
    m_window->show();
    m_window->controller().viewDidLoad();
    m_reports = std::make_unique<Reports>(m_window->controller());
    CameraBuffer::shareInstance().setDelegate(m_reports.get());
    QTRY_VERIFY_WITH_TIMEOUT(m_reports->frames >= 2, 10000);
}

void tst_HostileServers::cleanupTestCase()
{
    CameraBuffer::shareInstance().setDelegate(nullptr);
    CameraBuffer::shareInstance().stopTaskWiFiBox();
}

void tst_HostileServers::switchTo(const QString &url)
{
    QPushButton *status = m_window->form().statusBtn;
    if (status->isChecked())
        QTest::mouseClick(status, Qt::LeftButton);
    if (url.isEmpty())
        return;
    QVERIFY(CameraAddress::setBaseUrl(QUrl(url)));
    QTest::mouseClick(status, Qt::LeftButton);
    QVERIFY(status->isChecked() && CameraBuffer::shareInstance().isStreaming());
}

void tst_HostileServers::hostile_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("first"); // the body's start, then unit up to total bytes
    QTest::addColumn<QByteArray>("unit");
    QTest::addColumn<qint64>("total"); // 0: nothing more until the user switches off
    QTest::addColumn<int>("frames");
    const QByteArray head = StreamParts::httpHead(kType), x = "x";
    const QByteArray endless = StreamParts().part({}, StreamParts::kNoLength).bytes().chopped(2);
    QByteArray huge = testimages::jpeg(64, 48); // declaring 65535 x 65535
    huge = StreamParts()
               .part(huge.replace(huge.indexOf("\xFF\xC0") + 5, 4, "\xFF\xFF\xFF\xFF"))
               .bytes();
    const QByteArray good = StreamParts().part(testimages::jpeg(200, 150)).bytes();
    // Well past what a hostile server may cost: the part buffer's cap (48 MiB) and a frame or two.
    QTest::newRow("a part with no length or end") << head << endless << x << 160 * kMiB << 0;
    QTest::newRow("an answer declaring 2^62")
        << StreamParts::httpHead("image/jpeg", "Content-Length: 4611686018427387904\r\n")
        << QByteArray() << x << 160 * kMiB << 0;
    QTest::newRow("pictures of impossible size") << head << huge << huge << 300 * huge.size() << 0;
    QTest::newRow("empty parts") << head << QByteArray() << StreamParts().part({}).bytes()
                                 << 32 * kMiB << 0;
    QTest::newRow("headers that never end")
        << head << QByteArray("--myboundary\r\n") << QByteArray("X-Pad: 0123456789\r\n")
        << 32 * kMiB << 0;
    QTest::newRow("closes in a part")
        << head << good + good + good + good.left(500) << x << 3 * good.size() + 500 << 3;
    QTest::newRow("stalls in a part") << head << good.left(500) << x << qint64(0) << 0;
}

void tst_HostileServers::hostile()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, unit);
    QFETCH(qint64, total);
    QFETCH(int, frames);
    const QByteArray block = unit.repeated(256 * 1024 / unit.size());
    ThreadedServer server([&](const QByteArray &) {
        return ThreadedServer::Answer{head, [&](qint64 written) {
                                          if (written == 0 && !first.isEmpty())
                                              return first;
                                          while (total == 0 && server.sleepFor(100)) {
                                          }
                                          return block.left(std::max<qint64>(0, total - written));
                                      }};
    });
    const int endsAtOff = m_reports->ends;
    switchTo({});
    QTRY_COMPARE(m_reports->ends, endsAtOff + 1);
    LogCapture log;
    const int framesBefore = m_reports->frames, endsBefore = m_reports->ends;
    const qint64 heapStart = processfigures::heapInUse();
    qint64 heapPeak = heapStart, buffered = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        heapPeak = std::max(heapPeak, processfigures::heapInUse());
        buffered = std::max(buffered, qint64(CameraBuffer::shareInstance().bufferedBytes()));
    });
    watch.start(2);
    switchTo(server.baseUrl());
    if (total == 0) {
        // No time-out of the viewer's own: the stream stays on, showing 0
        // frames a second, until the user switches it off.
        QTest::qWait(2500);
        QCOMPARE(m_window->form().fpsLab->text(), QStringLiteral("FPS:0"));
        QCOMPARE(m_reports->ends, endsBefore);
        switchTo({});
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_reports->ends > endsBefore, 60000);
    QTest::qWait(200);
    QCOMPARE(m_reports->ends, endsBefore + 1);
    QCOMPARE(log.count(QStringLiteral("中断")), 1);
    QVERIFY(m_window->controller().isDisconnect() && !m_window->form().statusBtn->isChecked());
    QCOMPARE(m_reports->frames, framesBefore + frames);
    qDebug("heap +%lld MiB, part buffer %lld MiB", (heapPeak - heapStart) / kMiB, buffered / kMiB);
    QVERIFY(buffered <= CameraBuffer::kMaxPartBytes && heapPeak - heapStart < 100 * kMiB);
    // Nothing of a broken part spoils the next stream.
    switchTo(m_good->baseUrl());
    QTRY_VERIFY_WITH_TIMEOUT(m_reports->frames >= framesBefore + frames + 3, 10000);
    QCOMPARE(m_window->form().previewImgeView->image().size(), QSize(320, 240));
    QVERIFY(!m_window->controller().isDisconnect());
    QCOMPARE(m_reports->ends, endsBefore + 1);
}

QTEST_MAIN(tst_HostileServers)
#include "tst_HostileServers.moc"
