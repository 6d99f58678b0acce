#include "stream/StreamTask.h"

#include "support/LoopbackServer.h"
#include "support/ProcessFigures.h"
#include "support/StreamParts.h"
#include "support/ThreadedServer.h"

#include <QNetworkAccessManager>
#include <QTest>
#include <QTimer>

namespace
{

using Reply = QNetworkReply;
enum class Stop { None, Cancel, CancelInReport };
const QByteArray kType = "multipart/x-mixed-replace;boundary=myboundary";

// n frames as the box sends them: the delimiter first, nothing after a picture.
StreamParts frames(int n)
{
    StreamParts s;
    for (int i = 0; i < n; ++i)
        s.part(StreamParts::frame(i % 3));
    return s;
}

} // namespace

class tst_StreamTask : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { parts.clear(), errors.clear(); }
    void transfer_data();
    void transfer();
    void fastServerDoesNotPileUpBehindABusyMainThread();

private:
    // A transfer whose reports go to the members below.
    QPointer<StreamTask> start(const QString &base, std::function<void()> afterData)
    {
        StreamTask::Handlers handlers;
        handlers.partStarted = [this](qint64 declared) { parts.emplaceBack(declared); };
        handlers.partData = [this, afterData](QByteArrayView bytes) {
            parts.last().body.append(bytes.data(), bytes.size());
            afterData();
        };
        handlers.ended = [this](Reply::NetworkError e) { errors << e; };
        auto *task = new StreamTask(m_manager, QUrl(base + "/?action=stream"), handlers, nullptr);
        task->resume();
        return task;
    }
    QNetworkAccessManager m_manager;
    QList<StreamParts::Part> parts;
    QList<Reply::NetworkError> errors; // one per end report
};

void tst_StreamTask::transfer_data()
{
    // The framings are the splitter's; here the HTTP around them, and its ends.
    QTest::addColumn<QByteArray>("head"); // none: nothing listens
    QTest::addColumn<QByteArray>("body"); // then the server closes, or stays until stopped
    QTest::addColumn<StreamParts>("want");
    QTest::addColumn<Stop>("stop");
    QTest::addColumn<Reply::NetworkError>("error");
    const QByteArray head = StreamParts::httpHead(kType), plain(777, 'p');
    StreamParts cutOff = frames(3);
    cutOff.part(StreamParts::frame(3).left(100), StreamParts::frame(3).size());
    QTest::newRow("chunked, as ffmpeg spells it")
        << "HTTP/1.1 200 OK\r\nContent-type: " + kType + "\r\nTransfer-Encoding: chunked\r\n\r\n"
        << StreamParts::chunked(frames(3).bytes(), 7) << frames(3) << Stop::None << Reply::NoError;
    QTest::newRow("HTTP/1.0, the server closes in a part")
        << "HTTP/1.0 200 OK\r\ncontent-type: " + kType + "\r\n\r\n"
        << cutOff.bytes() << cutOff << Stop::None << Reply::NoError;
    QTest::newRow("connection lost")
        << StreamParts::httpHead(kType, "Content-Length: 99999\r\n") << cutOff.bytes() << cutOff
        << Stop::None << Reply::RemoteHostClosedError;
    QTest::newRow("no stream: one part of the answer's length")
        << StreamParts::httpHead("image/jpeg", "Content-Length: 777\r\n") << plain
        << StreamParts().body(plain, 777) << Stop::None << Reply::NoError;
    QTest::newRow("refused") << QByteArray() << QByteArray() << StreamParts() << Stop::None
                             << Reply::ConnectionRefusedError;
    QTest::newRow("cancel") << head << QByteArray() << frames(50) << Stop::Cancel
                            << Reply::OperationCanceledError;
    QTest::newRow("cancel from inside a report")
        << head << frames(20).bytes() << frames(2) << Stop::CancelInReport
        << Reply::OperationCanceledError;
}

void tst_StreamTask::transfer()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, body);
    QFETCH(StreamParts, want);
    QFETCH(Stop, stop);
    QFETCH(Reply::NetworkError, error);
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        socket->write(head + body);
        if (stop != Stop::Cancel)
            return socket->disconnectFromHost();
        auto *timer = new QTimer(socket); // a frame every 20 ms
        connect(timer, &QTimer::timeout, socket,
                [&, socket, n = 0]() mutable { socket->write(want.partBytes(n++)); });
        timer->start(20);
    });
    const QString closed = QStringLiteral("http://127.0.0.1:%1").arg(LoopbackServer::closedPort());
    QPointer<StreamTask> task;
    task = start(head.isEmpty() ? closed : server.baseUrl(), [&] {
        if (stop == Stop::CancelInReport && parts.size() == 2 && task)
            task->cancel(); // with parts still to report from the same read
    });
    QVERIFY(task->isRunning());
    if (stop == Stop::Cancel) {
        QTRY_VERIFY(parts.size() >= 3);
        task->cancel();
        task->cancel();                                  // changes nothing
        QVERIFY(!task->isRunning() && errors.isEmpty()); // the end never from inside cancel()
    }
    QTRY_VERIFY(task.isNull()); // gone after its end: no report can follow
    const qsizetype reported = parts.size();
    QTest::qWait(200); // a streaming server goes on writing
    QCOMPARE(errors, QList{error});
    QCOMPARE(parts.size(), stop == Stop::Cancel ? reported : want.parts().size());
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QCOMPARE(parts[i].declared, want.parts()[i].declared);
        QCOMPARE(parts[i].body, want.parts()[i].body);
    }
    for (const QPointer<QTcpSocket> &socket : server.sockets()) // closed by the client
        QTRY_VERIFY(!socket || socket->state() != QAbstractSocket::ConnectedState);
}

void tst_StreamTask::fastServerDoesNotPileUpBehindABusyMainThread()
{
    // 256 MiB of one part as fast as a server of its own threads can send,
    // to a main thread that takes a while over every read, as it does when it
    // shows frames: what is not yet read must wait in the kernel, not here.
    constexpr qint64 kMiB = 1024 * 1024;
    const QByteArray block(256 * 1024, 'x');
    ThreadedServer server([&](const QByteArray &) {
        return ThreadedServer::Answer{
            StreamParts::httpHead(kType) + "--myboundary\r\n\r\n",
            [&](qint64 sent) { return sent < 256 * kMiB ? block : QByteArray(); }};
    });
    const qint64 heapStart = processfigures::heapInUse();
    qint64 heapPeak = heapStart, received = 0;
    start(server.baseUrl(), [&] {
        heapPeak = std::max(heapPeak, processfigures::heapInUse());
        received += std::exchange(parts.last().body, {}).size();
        QThread::usleep(500);
    });
    QTRY_VERIFY_WITH_TIMEOUT(!errors.isEmpty(), 120000);
    QCOMPARE(received, 256 * kMiB);
    QVERIFY2(heapPeak - heapStart < 32 * kMiB, qPrintable(QString::number(heapPeak - heapStart)));
}

QTEST_GUILESS_MAIN(tst_StreamTask)
#include "tst_StreamTask.moc"
