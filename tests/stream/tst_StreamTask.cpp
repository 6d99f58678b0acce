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

using Error = QNetworkReply::NetworkError;
enum class Server { Closes, Breaks, Streams, Floods, Refuses };
enum class Stop { None, Cancel, CancelInReport, Delete };
const QByteArray kType = "multipart/x-mixed-replace;boundary=myboundary";

// A frame as the box sends it: the delimiter first, nothing after the picture.
QByteArray boxFrame(int i)
{
    return StreamParts(StreamParts::Layout::BreakThenFrame).part(StreamParts::frame(i % 5)).bytes();
}

} // namespace

class tst_StreamTask : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void deliversParts_data();
    void deliversParts();
    void endsOnce_data();
    void endsOnce();
    void fastServerDoesNotPileUpBehindABusyMainThread();

private:
    // Starts a transfer that records its reports; misplaced counts reports
    // after the end and bytes outside a part.
    QPointer<StreamTask> start(const QString &base, std::function<void()> afterData = {})
    {
        parts.clear();
        ends = misplaced = 0;
        error = QNetworkReply::NoError;
        auto *task = new StreamTask(m_manager, QUrl(base + "/?action=stream"),
                                    {[this](qint64 declared) {
                                         misplaced += ends;
                                         parts.append(StreamParts::Part{declared, {}});
                                     },
                                     [this, afterData](QByteArrayView bytes) {
                                         misplaced += ends + parts.isEmpty();
                                         if (!parts.isEmpty())
                                             parts.last().body.append(bytes.data(), bytes.size());
                                         if (afterData)
                                             afterData();
                                     },
                                     [this](Error e) {
                                         ++ends;
                                         error = e;
                                     }},
                                    nullptr);
        task->resume();
        return task;
    }
    QNetworkAccessManager m_manager;
    QList<StreamParts::Part> parts;
    int ends = 0, misplaced = 0;
    Error error = QNetworkReply::NoError;
};

void tst_StreamTask::deliversParts_data()
{
    // The framings are the splitter's; here the HTTP around them.
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("chunkSize"); // 0: not chunked
    QTest::addColumn<StreamParts>("stream");
    StreamParts stream(StreamParts::Layout::BreakThenFrame);
    stream.part(StreamParts::frame(0)).part(StreamParts::frame(1), StreamParts::kNoLength);
    const QByteArray picture = StreamParts::frame(3);
    QTest::newRow("chunked by 7, as ffmpeg spells it")
        << "HTTP/1.1 200 OK\r\nContent-type: " + kType + "\r\nTransfer-Encoding: chunked\r\n\r\n"
        << 7 << stream;
    QTest::newRow("HTTP/1.0 until close")
        << "HTTP/1.0 200 OK\r\ncontent-type: " + kType + "\r\n\r\n"
        << 0 << stream;
    QTest::newRow("a picture is one part of the answer's length")
        << StreamParts::httpHead("image/jpeg",
                                 "Content-Length: " + QByteArray::number(picture.size()) + "\r\n")
        << 0 << StreamParts().body(picture, picture.size());
}

void tst_StreamTask::deliversParts()
{
    QFETCH(QByteArray, head);
    QFETCH(int, chunkSize);
    QFETCH(StreamParts, stream);
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        const QByteArray &body = stream.bytes();
        socket->write(head);
        LoopbackServer::writeSliced(socket,
                                    chunkSize ? StreamParts::chunked(body, chunkSize) : body, 13);
        socket->disconnectFromHost();
    });
    QPointer<StreamTask> task = start(server.baseUrl());
    QTRY_COMPARE(ends, 1);
    QCOMPARE(error, QNetworkReply::NoError);
    QCOMPARE(parts.size(), stream.parts().size());
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QCOMPARE(parts[i].declared, stream.parts()[i].declared);
        QCOMPARE(parts[i].body, stream.parts()[i].body);
    }
    QTRY_VERIFY(task.isNull()); // gone after its end: no report can follow
    QCOMPARE(misplaced, 0);
    QCOMPARE(server.requestLines(), QList<QByteArray>{"GET /?action=stream HTTP/1.1"});
}

void tst_StreamTask::endsOnce_data()
{
    QTest::addColumn<Server>("kind");
    QTest::addColumn<Stop>("stop");
    QTest::addColumn<int>("wantParts"); // -1: however many came before the stop
    QTest::addColumn<Error>("wantError");
    QTest::newRow("server closes") << Server::Closes << Stop::None << 3 << QNetworkReply::NoError;
    QTest::newRow("connection lost")
        << Server::Breaks << Stop::None << 3 << QNetworkReply::RemoteHostClosedError;
    QTest::newRow("refused") << Server::Refuses << Stop::None << 0
                             << QNetworkReply::ConnectionRefusedError;
    QTest::newRow("cancel") << Server::Streams << Stop::Cancel << -1
                            << QNetworkReply::OperationCanceledError;
    QTest::newRow("cancel from inside a report")
        << Server::Floods << Stop::CancelInReport << 2 << QNetworkReply::OperationCanceledError;
    QTest::newRow("deleted") << Server::Streams << Stop::Delete << -1 << QNetworkReply::NoError;
}

void tst_StreamTask::endsOnce()
{
    QFETCH(Server, kind);
    QFETCH(Stop, stop);
    QFETCH(int, wantParts);
    QFETCH(Error, wantError);
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        const QByteArray length = kind == Server::Breaks ? "Content-Length: 100000\r\n" : "";
        socket->write("HTTP/1.0 200 OK\r\nContent-Type: " + kType + "\r\n" + length + "\r\n");
        if (kind == Server::Closes || kind == Server::Breaks) {
            socket->write(boxFrame(0) + boxFrame(1) + boxFrame(2).left(300));
            socket->disconnectFromHost();
        }
        for (int i = 0; kind == Server::Floods && i < 20; ++i)
            socket->write(boxFrame(i)); // parts still to report when the cancel comes
        if (kind == Server::Streams) {
            auto *timer = new QTimer(socket);
            connect(timer, &QTimer::timeout, socket,
                    [socket, n = 0]() mutable { socket->write(boxFrame(n++)); });
            timer->start(20);
        }
    });
    QPointer<StreamTask> task;
    task = start(kind == Server::Refuses
                     ? QStringLiteral("http://127.0.0.1:%1").arg(LoopbackServer::closedPort())
                     : server.baseUrl(),
                 [&] {
                     if (stop == Stop::CancelInReport && parts.size() == 2 && task)
                         task->cancel();
                 });
    QVERIFY(task->isRunning());
    if (stop == Stop::Cancel || stop == Stop::Delete) {
        QTRY_VERIFY(parts.size() >= 3);
        if (stop == Stop::Delete)
            delete task.data();
        else
            task->cancel(), task->cancel(); // the second changes nothing
        QVERIFY(!task || !task->isRunning());
        QCOMPARE(ends, 0); // never from inside cancel()
    }
    const int wantEnds = stop == Stop::Delete ? 0 : 1;
    QTRY_VERIFY(task.isNull());
    QTRY_COMPARE(ends, wantEnds);
    const qsizetype reported = parts.size();
    QTest::qWait(200); // a streaming server goes on writing
    QCOMPARE(ends, wantEnds);
    QCOMPARE(parts.size(), reported);
    QCOMPARE(misplaced, 0);
    QCOMPARE(error, wantError);
    QCOMPARE(wantParts < 0 ? reported : wantParts, reported);
    for (qsizetype i = 0; i + 1 < reported; ++i)
        QCOMPARE(parts[i].body, StreamParts::frame(i % 5));
    // The client closes the connection, rather than leaving it to the server.
    for (const QPointer<QTcpSocket> &socket : server.sockets())
        QTRY_VERIFY(!socket || socket->state() != QAbstractSocket::ConnectedState);
}

void tst_StreamTask::fastServerDoesNotPileUpBehindABusyMainThread()
{
    // A server on threads of its own sends 256 MiB of one endless part as fast
    // as it can, while the main thread takes a while over every read, as it
    // does when it decodes and shows frames. What the network layer reads
    // ahead must wait in the kernel, not in this process's memory.
    constexpr qint64 kMiB = 1024 * 1024;
    const QByteArray block(256 * 1024, 'x');
    ThreadedServer server([&](const QByteArray &) {
        return ThreadedServer::Answer{
            "HTTP/1.0 200 OK\r\nContent-Type: " + kType + "\r\n\r\n--myboundary\r\n\r\n",
            [&](qint64 written) { return written < 256 * kMiB ? block : QByteArray(); }};
    });
    const qint64 heapStart = processfigures::heapInUse();
    qint64 heapPeak = heapStart, received = 0;
    start(server.baseUrl(), [&] {
        heapPeak = std::max(heapPeak, processfigures::heapInUse());
        received += parts.last().body.size();
        parts.last().body.clear();
        QThread::usleep(500);
    });
    QTRY_VERIFY_WITH_TIMEOUT(ends == 1, 120000);
    QCOMPARE(received, 256 * kMiB);
    QVERIFY2(heapPeak - heapStart < 32 * kMiB, qPrintable(QString::number(heapPeak - heapStart)));
}

QTEST_GUILESS_MAIN(tst_StreamTask)
#include "tst_StreamTask.moc"
