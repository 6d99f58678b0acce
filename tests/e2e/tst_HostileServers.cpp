// The viewer against servers that send what no camera box should: endless
// and impossibly long parts, bytes that are no picture, pictures of
// impossible size, empty parts, streams that break off, stall or trickle,
// a new frame size with every frame, and command answers that are huge or
// never end. Each case checks that the memory the viewer takes stays
// bounded, that the end of the stream is reported once and shown as any
// end is, and that the viewer streams again from a good server once the
// user switches the stream back on.

#include "app/MainWindow.h"
#include "control/RequestManager.h"
#include "e2e/HostileStreams.h"
#include "platform/CameraAddress.h"
#include "platform/Controls.h"
#include "platform/ImageAssets.h"
#include "stream/CameraBuffer.h"
#include "support/LogCapture.h"
#include "support/LoopbackServer.h"
#include "support/ProcessFigures.h"
#include "support/TestImages.h"
#include "support/ViewerFakes.h"
#include "ui_MainWindow.h"
#include "viewer/ResolutionTable.h"
#include "viewer/ViewController.h"

#include <QTest>

#include <mutex>

using namespace hostile;

namespace
{

// What a hostile server may cost: the part buffer's cap (48 MiB) and a frame
// or two, with room to spare. Every bulk case sends well over this.
constexpr qint64 kMemoryBound = 100 * kMiB;
constexpr qint64 kFlood = 160 * kMiB;

QSize goodFrameSize()
{
    return {320, 240};
}

// The frames of the server that closes in the middle of a part.
QByteArray closingFrame()
{
    return testimages::jpeg(200, 150, 7);
}

// The "Disconnect" picture, as the viewer shows it at the end of a stream.
// Its caption's glyphs may be drawn a shade differently from one rendering
// to the next, so the caption's band is left out.
bool showsDisconnectPicture(const QImage &shown)
{
    const QImage expected = platform::assets::image(QStringLiteral("Disconnect"), QSize(640, 360));
    constexpr int kCaptionTop = 280;
    return shown.size() == expected.size() && shown.format() == expected.format() &&
           shown.copy(0, 0, 640, kCaptionTop) == expected.copy(0, 0, 640, kCaptionTop);
}

} // namespace

class tst_HostileServers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void endlessParts_data();
    void endlessParts();
    void partsThatAreNoPicture_data();
    void partsThatAreNoPicture();
    void emptyPartsAndDelimiters_data();
    void emptyPartsAndDelimiters();
    void serverClosesMidPart_data();
    void serverClosesMidPart();
    void stalledServer_data();
    void stalledServer();
    void oneBytePerSecond();
    void newFrameSizeEveryFrame();
    void hugeCommandAnswers_data();
    void hugeCommandAnswers();
    void compressedFloods();
    void endlessCommandAnswers_data();
    void endlessCommandAnswers();

private:
    // The status button off, if it is on, and the end of the stopped
    // transfer reported.
    void switchOff();
    // The stream from url, as the user gets it: switched off, then on.
    void switchOnAt(const QString &url);
    // The end of the transfer switched on last was reported once and shows.
    void checkEndedOnce(const LogCapture &log);
    // label: what the figures are printed under; the data row's name by default.
    void checkMemory(const MemoryWatch &watch, const char *label = nullptr);
    // Back to the good server: frames come again, the viewer is connected.
    void checkStreamsAgain();

    QList<QByteArray> m_goodFrames;
    std::unique_ptr<ThreadedServer> m_good;
    // The good server's answer to commands, when a test replaces the good
    // one; read by the server's threads.
    void setCommandAnswer(std::function<ThreadedServer::Answer()> answer);
    std::mutex m_commandAnswerMutex;
    std::function<ThreadedServer::Answer()> m_commandAnswer;
    std::unique_ptr<ViewerFakes> m_fakes;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<Reports> m_reports;
    int m_endsAtSwitch = 0;
};

void tst_HostileServers::initTestCase()
{
    for (int seed = 0; seed < 3; ++seed)
        m_goodFrames << testimages::jpeg(goodFrameSize().width(), goodFrameSize().height(), seed);
    m_good = std::make_unique<ThreadedServer>([this](const QByteArray &request) {
        if (request.contains("action=stream"))
            return ThreadedServer::Answer{streamHead(), frames(*m_good, m_goodFrames, 40)};
        std::function<ThreadedServer::Answer()> answer;
        {
            std::lock_guard lock(m_commandAnswerMutex);
            answer = m_commandAnswer;
        }
        if (answer)
            return answer();
        const QByteArray ok = R"({"result":"0"})";
        return ThreadedServer::Answer{
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                QByteArray::number(ok.size()) + "\r\nConnection: close\r\n\r\n",
            repeated({}, ok, ok.size())};
    });
    QVERIFY(m_good->port() != 0);
}

void tst_HostileServers::setCommandAnswer(std::function<ThreadedServer::Answer()> answer)
{
    std::lock_guard lock(m_commandAnswerMutex);
    m_commandAnswer = std::move(answer);
}

void tst_HostileServers::init()
{
    setCommandAnswer(nullptr);
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
    RequestManager::sharedManager().setRequestTimeout(RequestManager::kRequestTimeout);
    QCoreApplication::processEvents();
    m_reports.reset();
    m_window.reset();
    m_fakes.reset();
}

void tst_HostileServers::switchOff()
{
    QPushButton *status = m_window->form().statusBtn;
    if (!status->isChecked())
        return;
    const int ends = m_reports->ends;
    QTest::mouseClick(status, Qt::LeftButton);
    QVERIFY(!CameraBuffer::shareInstance().isStreaming());
    QTRY_COMPARE_WITH_TIMEOUT(m_reports->ends, ends + 1, 10000);
}

void tst_HostileServers::switchOnAt(const QString &url)
{
    switchOff();
    QVERIFY(CameraAddress::setBaseUrl(QUrl(url)));
    m_endsAtSwitch = m_reports->ends;
    QPushButton *status = m_window->form().statusBtn;
    QTest::mouseClick(status, Qt::LeftButton);
    QVERIFY(status->isChecked());
    QVERIFY(CameraBuffer::shareInstance().isStreaming());
}

void tst_HostileServers::checkEndedOnce(const LogCapture &log)
{
    QTRY_VERIFY_WITH_TIMEOUT(m_reports->ends > m_endsAtSwitch, 20000);
    QTest::qWait(200);
    QCOMPARE(m_reports->ends, m_endsAtSwitch + 1);
    QCOMPARE(log.count(QStringLiteral("中断")), 1);
    QVERIFY(m_window->controller().isDisconnect());
    QVERIFY(!m_window->form().statusBtn->isChecked());
    QVERIFY(showsDisconnectPicture(m_window->form().previewImgeView->image()));
}

void tst_HostileServers::checkMemory(const MemoryWatch &watch, const char *label)
{
    if (!label)
        label = QTest::currentDataTag() ? QTest::currentDataTag() : QTest::currentTestFunction();
    qDebug("memory, %s: %s", label, qPrintable(watch.figures()));
    QVERIFY2(watch.maxBuffered() <= CameraBuffer::kMaxPartBytes, qPrintable(watch.figures()));
    QVERIFY2(watch.heapGrowth() < kMemoryBound, qPrintable(watch.figures()));
    // AddressSanitizer keeps freed memory in quarantine, resident all along.
    if (!processfigures::underAddressSanitizer() && watch.residentGrowth() >= 0)
        QVERIFY2(watch.residentGrowth() < kMemoryBound, qPrintable(watch.figures()));
}

void tst_HostileServers::checkStreamsAgain()
{
    const int framesBefore = m_reports->frames;
    switchOnAt(m_good->baseUrl());
    QTRY_VERIFY2_WITH_TIMEOUT(m_reports->frames >= framesBefore + 3,
                              qPrintable(QStringLiteral("%1 frames, %2 connections to the good "
                                                        "server, streaming: %3")
                                             .arg(m_reports->frames - framesBefore)
                                             .arg(m_good->connections())
                                             .arg(CameraBuffer::shareInstance().isStreaming())),
                              10000);
    QCOMPARE(m_reports->lastSize, goodFrameSize());
    QCOMPARE(m_window->form().previewImgeView->image().size(), goodFrameSize());
    QVERIFY(!m_window->controller().isDisconnect());
    QVERIFY(m_window->form().statusBtn->isChecked());
    QVERIFY(CameraBuffer::shareInstance().isStreaming());
    QCOMPARE(m_reports->ends, m_endsAtSwitch);
}

void tst_HostileServers::endlessParts_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("prefix");
    const QByteArray big = "4611686018427387904"; // 2^62
    QTest::newRow("no length, no marker") << streamHead() << partHead(-1);
    QTest::newRow("part declares 2^62")
        << streamHead() << "--frame\r\nContent-Length: " + big + "\r\n\r\n";
    QTest::newRow("part declares 2^63 - 1")
        << streamHead() << QByteArray("--frame\r\nContent-Length: 9223372036854775807\r\n\r\n");
    QTest::newRow("whole answer declares 2^62")
        << streamHead("image/jpeg", "Content-Length: " + big + "\r\n") << QByteArray();
}

void tst_HostileServers::endlessParts()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, prefix);
    ThreadedServer server([&](const QByteArray &) {
        return ThreadedServer::Answer{head, repeated(prefix, "x", kFlood)};
    });
    switchOff();
    LogCapture log;
    MemoryWatch watch;
    const int framesBefore = m_reports->frames;
    switchOnAt(server.baseUrl());
    QTRY_VERIFY_WITH_TIMEOUT(server.connections() == 1 && server.openConnections() == 0, 60000);
    checkEndedOnce(log);
    QCOMPARE(m_reports->frames, framesBefore);
    QVERIFY(server.bytesWritten() > kFlood);
    checkMemory(watch);
    checkStreamsAgain();
}

void tst_HostileServers::partsThatAreNoPicture_data()
{
    QTest::addColumn<QByteArray>("body");
    QByteArray noise(20000, '\0');
    quint32 state = 12345;
    for (char &c : noise) {
        state = state * 1103515245 + 12345;
        c = char((state >> 16) & 0x7F) | char(0x80); // never a line break or a dash
    }
    const QByteArray jpeg = testimages::jpeg(64, 48, 1);
    QTest::newRow("not a JPEG") << noise;
    QTest::newRow("JPEG declaring 65535 x 65535") << withDeclaredSize(jpeg, 65535, 65535);
    QTest::newRow("JPEG declaring 4097 x 4096") << withDeclaredSize(jpeg, 4097, 4096);
    QTest::newRow("JPEG headers only") << jpeg.left(jpeg.indexOf("\xFF\xC0") + 19);
}

void tst_HostileServers::partsThatAreNoPicture()
{
    QFETCH(QByteArray, body);
    constexpr int kParts = 300;
    ThreadedServer server([&](const QByteArray &) {
        QByteArray parts;
        for (int i = 0; i < kParts; ++i)
            parts += part(body);
        return ThreadedServer::Answer{streamHead(), repeated(parts, {}, parts.size())};
    });
    // Stopped first, and a frame-rate report later, so that the count of
    // completed parts starts at the hostile stream.
    switchOff();
    const int reportsBefore = m_reports->rateReports;
    QTRY_VERIFY_WITH_TIMEOUT(m_reports->rateReports > reportsBefore, 5000);
    const qint64 completedBefore = m_reports->completed;
    const int framesBefore = m_reports->frames;

    LogCapture log;
    MemoryWatch watch;
    switchOnAt(server.baseUrl());
    QTRY_VERIFY_WITH_TIMEOUT(server.openConnections() == 0 && server.connections() == 1, 30000);
    checkEndedOnce(log);
    // Every part is counted in the frame rate; none becomes a frame.
    QTRY_COMPARE_WITH_TIMEOUT(m_reports->completed - completedBefore, qint64(kParts), 10000);
    QCOMPARE(m_reports->frames, framesBefore);
    checkMemory(watch);
    checkStreamsAgain();
}

void tst_HostileServers::emptyPartsAndDelimiters_data()
{
    QTest::addColumn<QByteArray>("unit");
    QTest::newRow("empty parts") << part({});
    QTest::newRow("empty parts, no headers") << QByteArray("--frame\r\n\r\n\r\n");
    QTest::newRow("delimiters only") << QByteArray("--frame\r\n");
    QTest::newRow("closing delimiters only") << QByteArray("--frame--\r\n");
    QTest::newRow("delimiters without line breaks") << QByteArray("--frame");
    QTest::newRow("headers that never end") << QByteArray("X-Pad: 0123456789abcdef\r\n");
    QTest::newRow("blank lines") << QByteArray("\r\n");
}

void tst_HostileServers::emptyPartsAndDelimiters()
{
    QFETCH(QByteArray, unit);
    ThreadedServer server([&](const QByteArray &) {
        // A first part header, so that headers that never end are headers.
        return ThreadedServer::Answer{streamHead(),
                                      repeated("--frame\r\n" + unit, unit, 32 * kMiB)};
    });
    switchOff();
    LogCapture log;
    MemoryWatch watch;
    const int framesBefore = m_reports->frames;
    switchOnAt(server.baseUrl());
    QTRY_VERIFY_WITH_TIMEOUT(server.openConnections() == 0 && server.connections() == 1, 60000);
    checkEndedOnce(log);
    QCOMPARE(m_reports->frames, framesBefore);
    checkMemory(watch);
    checkStreamsAgain();
}

void tst_HostileServers::serverClosesMidPart_data()
{
    QTest::addColumn<int>("cutAfter"); // bytes of the fourth part that go out
    const qsizetype frameLength = closingFrame().size();
    const qsizetype headLength = partHead(frameLength).size();
    QTest::newRow("in a delimiter") << 4;
    QTest::newRow("in the headers") << int(headLength / 2);
    QTest::newRow("right after the headers") << int(headLength);
    QTest::newRow("in the body") << int(headLength + frameLength / 2);
    QTest::newRow("before the end-of-image marker") << int(headLength + frameLength - 2);
}

void tst_HostileServers::serverClosesMidPart()
{
    QFETCH(int, cutAfter);
    const QByteArray frame = closingFrame();
    const QByteArray stream = part(frame) + part(frame) + part(frame) + part(frame).left(cutAfter);
    ThreadedServer server([&](const QByteArray &) {
        return ThreadedServer::Answer{streamHead(), repeated(stream, {}, stream.size())};
    });
    switchOff();
    LogCapture log;
    MemoryWatch watch;
    const int framesBefore = m_reports->frames;
    switchOnAt(server.baseUrl());
    checkEndedOnce(log);
    QCOMPARE(m_reports->frames, framesBefore + 3);
    QCOMPARE(m_reports->lastSize, QSize(200, 150));
    checkMemory(watch);
    // The rest of the broken part must not spoil the next stream's first frame.
    checkStreamsAgain();
}

void tst_HostileServers::stalledServer_data()
{
    QTest::addColumn<QByteArray>("sent"); // what the server sends before it stalls
    QTest::newRow("nothing after accepting") << QByteArray();
    QTest::newRow("the head only") << streamHead();
    QTest::newRow("inside a part")
        << streamHead() + partHead(m_goodFrames[0].size()) + m_goodFrames[0].left(100);
}

void tst_HostileServers::stalledServer()
{
    QFETCH(QByteArray, sent);
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) { socket->write(sent); });
    switchOff();
    LogCapture log;
    const int framesBefore = m_reports->frames;
    switchOnAt(server.baseUrl());
    QTRY_COMPARE(server.sockets().size(), 1);

    // The viewer sets no time-out of its own: the stream stays on, and the
    // window goes on working, the frame rate showing 0 every second.
    const int reports = m_reports->rateReports;
    QTest::qWait(2500);
    QVERIFY(m_reports->rateReports >= reports + 2);
    QCOMPARE(m_window->form().fpsLab->text(), QStringLiteral("FPS:0"));
    QCOMPARE(m_reports->ends, m_endsAtSwitch);
    QCOMPARE(m_reports->frames, framesBefore);
    QVERIFY(m_window->form().statusBtn->isChecked());

    // The user switches off: one end report, and the connection is closed.
    switchOff();
    QTest::qWait(200);
    QCOMPARE(m_reports->ends, m_endsAtSwitch + 1);
    QCOMPARE(log.count(QStringLiteral("中断")), 1);
    QVERIFY(m_window->controller().isDisconnect());
    QPointer<QTcpSocket> socket = server.sockets().first();
    QTRY_VERIFY(!socket || socket->state() == QAbstractSocket::UnconnectedState);
    checkStreamsAgain();
}

void tst_HostileServers::oneBytePerSecond()
{
    const QByteArray stream = part(m_goodFrames[0]);
    QTimer drip;
    qsizetype sent = 0;
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        socket->write(streamHead());
        QObject::connect(&drip, &QTimer::timeout, socket, [&, socket] {
            if (sent < stream.size())
                socket->write(stream.mid(sent++, 1));
        });
        drip.start(1000);
    });
    switchOff();
    LogCapture log;
    const int framesBefore = m_reports->frames;
    switchOnAt(server.baseUrl());
    const int reports = m_reports->rateReports;
    QTest::qWait(3500);
    QVERIFY(sent >= 2);
    QVERIFY(m_reports->rateReports >= reports + 2);
    QCOMPARE(m_reports->frames, framesBefore);
    QCOMPARE(m_reports->ends, m_endsAtSwitch);

    // Switching to a good server ends the trickle once and streams.
    switchOff();
    QCOMPARE(log.count(QStringLiteral("中断")), 1);
    QPointer<QTcpSocket> socket = server.sockets().first();
    QTRY_VERIFY(!socket || socket->state() == QAbstractSocket::UnconnectedState);
    checkStreamsAgain();
}

void tst_HostileServers::newFrameSizeEveryFrame()
{
    // Every size the box has, each frame another one.
    QList<QByteArray> jpegs;
    QList<QSize> sizes;
    for (int round = 0; round < 3; ++round)
        for (const resolution::Entry &e : resolution::kTable) {
            sizes << QSize(e.width, e.height);
            if (jpegs.size() < int(resolution::kTable.size()))
                jpegs << testimages::jpeg(e.width, e.height, e.tag);
        }
    QByteArray stream;
    for (int i = 0; i < sizes.size(); ++i)
        stream += part(jpegs[i % jpegs.size()]);
    ThreadedServer server([&](const QByteArray &) {
        return ThreadedServer::Answer{streamHead(), repeated(stream, {}, stream.size())};
    });
    switchOff();
    LogCapture log;
    MemoryWatch watch;
    const int framesBefore = m_reports->frames;
    switchOnAt(server.baseUrl());
    checkEndedOnce(log);
    QCOMPARE(m_reports->frames, framesBefore + int(sizes.size()));
    // Each frame was taken as a new size: logged, and the pop-up follows.
    int sizeLines = 0;
    for (const QString &line : log.lines())
        sizeLines += line.contains(QLatin1String(" --- w:"));
    QCOMPARE(sizeLines, int(sizes.size()));
    QCOMPARE(m_window->controller().photoSize(), QSizeF(sizes.last()));
    QCOMPARE(platform::controls::selectedTag(m_window->form().resolutionPopBtn),
             resolution::tagForSize(sizes.last().width(), sizes.last().height()));
    checkMemory(watch);
    checkStreamsAgain();
}

namespace
{

// Counts the calls of a success completion.
struct Outcomes {
    int calls = 0;
    bool last = true;
    RequestManager::SuccessCompletion completion()
    {
        return [this](bool success) {
            ++calls;
            last = success;
        };
    }
};

QByteArray answerHead(const QByteArray &headers)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n" + headers +
           "Connection: close\r\n\r\n";
}

} // namespace

void tst_HostileServers::hugeCommandAnswers_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("unit");
    const QByteArray hundredMB = QByteArray::number(100 * 1000 * 1000);
    QByteArray chunk(256 * 1024, ' ');
    chunk = QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
    QTest::newRow("100 MB, declared")
        << answerHead("Content-Length: " + hundredMB + "\r\n") << QByteArray(" ");
    QTest::newRow("100 MB, undeclared") << answerHead({}) << QByteArray(" ");
    QTest::newRow("100 MB, chunked") << answerHead("Transfer-Encoding: chunked\r\n") << chunk;
}

void tst_HostileServers::hugeCommandAnswers()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, unit);
    const bool chunked = unit.size() > 1;
    const QByteArray prefix = chunked ? QByteArray("15\r\n{\"result\":\"0\",\"a\":\"\r\n")
                                      : QByteArray("{\"result\":\"0\",\"a\":\"");
    setCommandAnswer([head, prefix, unit] {
        return ThreadedServer::Answer{head, repeated(prefix, unit, 100 * 1000 * 1000)};
    });
    MemoryWatch watch;
    const qint64 writtenBefore = m_good->bytesWritten();
    const int framesBefore = m_reports->frames;
    Outcomes outcomes;
    RequestManager::sharedManager().setFocusStyle(QStringLiteral("0"), outcomes.completion());
    m_window->form().whiteBalanceBtn->click(); // the viewer's own command, into the same
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.calls, 1, 15000);
    QVERIFY(!outcomes.last);
    // The stream went on all the while.
    QTRY_VERIFY_WITH_TIMEOUT(m_reports->frames >= framesBefore + 3, 10000);
    QVERIFY(!m_window->controller().isDisconnect());
    QTest::qWait(300);
    QCOMPARE(outcomes.calls, 1);
    // The client stopped reading long before the end: the server got rid of
    // little more than what the sockets' buffers hold.
    QVERIFY2(m_good->bytesWritten() - writtenBefore < 48 * kMiB,
             qPrintable(QString::number(m_good->bytesWritten() - writtenBefore)));
    checkMemory(watch);

    setCommandAnswer(nullptr);
    Outcomes good;
    RequestManager::sharedManager().setFocusStyle(QStringLiteral("0"), good.completion());
    QTRY_COMPARE_WITH_TIMEOUT(good.calls, 1, 10000);
    QVERIFY(good.last);
}

void tst_HostileServers::endlessCommandAnswers_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<bool>("trickle");
    QTest::newRow("no answer at all") << QByteArray() << QByteArray() << false;
    QTest::newRow("the head only")
        << answerHead("Content-Length: 100\r\n") << QByteArray() << false;
    QTest::newRow("a body that never ends")
        << answerHead("Content-Length: 100\r\n") << QByteArray("{\"result\":\"0\"") << false;
    QTest::newRow("one byte a second")
        << answerHead({}) << QByteArray("{\"result\":\"0\",\"a\":\"") << true;
}

void tst_HostileServers::endlessCommandAnswers()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, start);
    QFETCH(bool, trickle);
    setCommandAnswer([this, head, start, trickle] {
        const ThreadedServer &server = *m_good;
        return ThreadedServer::Answer{head, [&server, start, trickle](qint64 written) {
                                          if (written == 0 && !start.isEmpty())
                                              return start;
                                          if (trickle)
                                              return server.sleepFor(1000) ? QByteArray(" ")
                                                                           : QByteArray();
                                          while (server.sleepFor(100)) {
                                          }
                                          return QByteArray();
                                      }};
    });
    RequestManager::sharedManager().setRequestTimeout(std::chrono::milliseconds(1500));
    const int framesBefore = m_reports->frames;
    Outcomes outcomes;
    RequestManager::sharedManager().setFocusStyle(QStringLiteral("0"), outcomes.completion());
    m_window->form().whiteBalanceBtn->click();
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.calls, 1, 15000);
    QVERIFY(!outcomes.last);
    QVERIFY(m_reports->frames >= framesBefore + 3); // streaming all the while
    QTest::qWait(300);
    QCOMPARE(outcomes.calls, 1);
    QVERIFY(!m_window->controller().isDisconnect());

    setCommandAnswer(nullptr);
    Outcomes good;
    RequestManager::sharedManager().setFocusStyle(QStringLiteral("0"), good.completion());
    QTRY_COMPARE_WITH_TIMEOUT(good.calls, 1, 10000);
    QVERIFY(good.last);
}

void tst_HostileServers::compressedFloods()
{
    // 64 MiB that deflate to some 64 KiB. The network layer inflates what
    // the server encodes; the viewer must not hold what comes out.
    const auto deflated = [](const QByteArray &head, qsizetype fill) {
        QByteArray raw = head;
        raw.append(fill, 'x');
        return qCompress(raw, 9).mid(4); // zlib's stream, without Qt's length prefix
    };
    const QByteArray stream = deflated(partHead(-1), 64 * kMiB);
    const QByteArray answer = deflated(R"({"result":"0","a":")", 64 * kMiB);
    const auto encodedHead = [](const QByteArray &type, qsizetype length) {
        return "HTTP/1.1 200 OK\r\nContent-Type: " + type +
               "\r\nContent-Encoding: deflate\r\nContent-Length: " + QByteArray::number(length) +
               "\r\nConnection: close\r\n\r\n";
    };
    ThreadedServer server([&](const QByteArray &) {
        return ThreadedServer::Answer{
            encodedHead("multipart/x-mixed-replace;boundary=frame", stream.size()),
            repeated(stream, {}, stream.size())};
    });
    switchOff();
    LogCapture log;
    MemoryWatch watch;
    const int framesBefore = m_reports->frames;
    switchOnAt(server.baseUrl());
    checkEndedOnce(log);
    QCOMPARE(m_reports->frames, framesBefore);
    checkMemory(watch, "deflated stream");
    checkStreamsAgain();

    setCommandAnswer([answer, encodedHead] {
        return ThreadedServer::Answer{encodedHead("application/json", answer.size()),
                                      repeated(answer, {}, answer.size())};
    });
    MemoryWatch commandWatch;
    Outcomes outcomes;
    RequestManager::sharedManager().setFocusStyle(QStringLiteral("0"), outcomes.completion());
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.calls, 1, 15000);
    QVERIFY(!outcomes.last);
    checkMemory(commandWatch, "deflated command answer");
    setCommandAnswer(nullptr);
}

QTEST_MAIN(tst_HostileServers)
#include "tst_HostileServers.moc"
