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
// What a hostile server may cost: the part buffer's cap (48 MiB) and a frame
// or two, with room to spare. The floods send well over it.
constexpr qint64 kMemoryBound = 100 * kMiB;
const QByteArray kType = "multipart/x-mixed-replace;boundary=myboundary";

// The stream client's reports, counted on their way to the controller.
struct Reports : CameraBufferDelegate {
    explicit Reports(ViewController &c) : controller(c) {}
    void cameraFPS(qint64 frames) override { controller.cameraFPS(frames); }
    void cameraBufferImage(const QImage &image) override
    {
        ++frames;
        lastSize = image.size();
        controller.cameraBufferImage(image);
    }
    void disconnection() override
    {
        ++ends;
        controller.disconnection();
    }
    ViewController &controller;
    int frames = 0, ends = 0;
    QSize lastSize;
};

QByteArray part(const QByteArray &body, qint64 declared)
{
    return StreamParts().part(body, declared).bytes();
}

} // namespace

class tst_HostileServers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void hostile_data();
    void hostile();

private:
    void switchOff(); // the status button off, if it is on, and the end reported
    void switchOn(const QString &url);
    std::unique_ptr<ThreadedServer> m_good;
    std::unique_ptr<ViewerFakes> m_fakes;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<Reports> m_reports;
};

void tst_HostileServers::initTestCase()
{
    m_good = std::make_unique<ThreadedServer>([this](const QByteArray &request) {
        if (!request.contains("action=stream"))
            return ThreadedServer::Answer{
                StreamParts::httpHead("application/json", "Content-Length: 14\r\n") +
                    R"({"result":"0"})",
                {}};
        const QByteArray frame = testimages::jpeg(320, 240);
        return ThreadedServer::Answer{StreamParts::httpHead(kType), [this, frame](qint64 written) {
                                          const bool on = written == 0 || m_good->sleepFor(40);
                                          return on ? part(frame, frame.size()) : QByteArray();
                                      }};
    });
}

void tst_HostileServers::init()
{
    QVERIFY(CameraAddress::setBaseUrl(QUrl(m_good->baseUrl())));
    m_fakes = std::make_unique<ViewerFakes>();
    m_window = std::make_unique<MainWindow>(m_fakes->services());
    m_window->show();
    m_window->controller().viewDidLoad();
    m_reports = std::make_unique<Reports>(m_window->controller());
    CameraBuffer::shareInstance().setDelegate(m_reports.get());
    QTRY_VERIFY_WITH_TIMEOUT(m_reports->frames >= 2, 10000);
}

void tst_HostileServers::cleanup()
{
    CameraBuffer::shareInstance().setDelegate(nullptr);
    CameraBuffer::shareInstance().stopTaskWiFiBox();
    QCoreApplication::processEvents();
    m_reports.reset();
    m_window.reset();
    m_fakes.reset();
}

void tst_HostileServers::switchOff()
{
    const int ends = m_reports->ends;
    if (m_window->form().statusBtn->isChecked()) {
        QTest::mouseClick(m_window->form().statusBtn, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(m_reports->ends, ends + 1, 10000);
    }
}

void tst_HostileServers::switchOn(const QString &url)
{
    QVERIFY(CameraAddress::setBaseUrl(QUrl(url)));
    QTest::mouseClick(m_window->form().statusBtn, Qt::LeftButton);
    QVERIFY(m_window->form().statusBtn->isChecked() && CameraBuffer::shareInstance().isStreaming());
}

void tst_HostileServers::hostile_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("first"); // the body's start, then unit up to total bytes
    QTest::addColumn<QByteArray>("unit");  // none: silence until the user switches off
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("frames");
    const QByteArray head = StreamParts::httpHead(kType);
    const QByteArray flood = part({}, StreamParts::kNoLength).chopped(2); // a part's head
    QTest::newRow("a part without length or end")
        << head << flood << QByteArray("x") << 160 * kMiB << 0;
    QTest::newRow("an answer declaring 2^62")
        << StreamParts::httpHead("image/jpeg", "Content-Length: 4611686018427387904\r\n")
        << QByteArray() << QByteArray("x") << 160 * kMiB << 0;
    QByteArray huge = testimages::jpeg(64, 48); // declaring 65535 x 65535
    huge.replace(huge.indexOf("\xFF\xC0") + 5, 4, "\xFF\xFF\xFF\xFF");
    QTest::newRow("pictures of impossible size") << head << QByteArray() << part(huge, huge.size())
                                                 << 300 * part(huge, huge.size()).size() << 0;
    QTest::newRow("empty parts") << head << QByteArray() << part({}, 0) << 32 * kMiB << 0;
    QTest::newRow("headers that never end")
        << head << QByteArray("--myboundary\r\n") << QByteArray("X-Pad: 0123456789\r\n")
        << 32 * kMiB << 0;
    const QByteArray deflated = qCompress(flood + QByteArray(64 * kMiB, 'x'), 9).mid(4);
    QTest::newRow("64 MiB deflated to some 64 KiB")
        << StreamParts::httpHead(kType, "Content-Encoding: deflate\r\nContent-Length: " +
                                            QByteArray::number(deflated.size()) + "\r\n")
        << deflated << QByteArray() << qint64(deflated.size()) << 0;
    const QByteArray jpeg = testimages::jpeg(200, 150), good = part(jpeg, jpeg.size());
    QTest::newRow("closes in a part") << head << good + good + good + good.left(500) << QByteArray()
                                      << 3 * good.size() + 500 << 3;
    QTest::newRow("stalls in a part") << head << good.left(500) << QByteArray() << qint64(0) << 0;
}

void tst_HostileServers::hostile()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, unit);
    QFETCH(qint64, total);
    QFETCH(int, frames);
    const QByteArray block = unit.repeated(256 * 1024 / std::max<qsizetype>(unit.size(), 1));
    ThreadedServer server([&](const QByteArray &) {
        return ThreadedServer::Answer{head, [&](qint64 written) {
                                          if (written == 0 && !first.isEmpty())
                                              return first;
                                          while (total == 0 && server.sleepFor(100)) {
                                          }
                                          return block.left(std::max<qint64>(0, total - written));
                                      }};
    });
    switchOff();
    LogCapture log;
    const int framesBefore = m_reports->frames, endsBefore = m_reports->ends;
    qint64 heapStart = processfigures::heapInUse(), heapPeak = heapStart;
    qsizetype buffered = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        heapPeak = std::max(heapPeak, processfigures::heapInUse());
        buffered = std::max(buffered, CameraBuffer::shareInstance().bufferedBytes());
    });
    watch.start(2);
    switchOn(server.baseUrl());
    if (total == 0) {
        // The viewer sets no time-out of its own: the stream stays on and
        // the window shows 0 frames a second, until the user switches off.
        QTest::qWait(2500);
        QCOMPARE(m_window->form().fpsLab->text(), QStringLiteral("FPS:0"));
        QCOMPARE(m_reports->ends, endsBefore);
        switchOff();
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_reports->ends > endsBefore, 60000);
    QTest::qWait(200);
    QCOMPARE(m_reports->ends, endsBefore + 1);
    QCOMPARE(log.count(QStringLiteral("中断")), 1);
    QVERIFY(m_window->controller().isDisconnect());
    QVERIFY(!m_window->form().statusBtn->isChecked());
    QCOMPARE(m_reports->frames, framesBefore + frames);
    QVERIFY(server.bytesWritten() >= total);
    const QString memory = QStringLiteral("heap +%1 MiB, part buffer %2 MiB")
                               .arg((heapPeak - heapStart) / kMiB)
                               .arg(buffered / kMiB);
    qDebug("%s: %s", QTest::currentDataTag(), qPrintable(memory));
    QVERIFY2(buffered <= CameraBuffer::kMaxPartBytes && heapPeak - heapStart < kMemoryBound,
             qPrintable(memory));

    // The rest of a broken part must not spoil the next stream.
    switchOn(m_good->baseUrl());
    QTRY_VERIFY_WITH_TIMEOUT(m_reports->frames >= framesBefore + frames + 3, 10000);
    QCOMPARE(m_reports->lastSize, QSize(320, 240));
    QVERIFY(!m_window->controller().isDisconnect());
    QCOMPARE(m_reports->ends, endsBefore + 1);
}

QTEST_MAIN(tst_HostileServers)
#include "tst_HostileServers.moc"
