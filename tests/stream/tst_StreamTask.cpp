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
enum class Stop { None, Cancel, CancelInReport, Delete };
const QByteArray kType = "multipart/x-mixed-replace;boundary=myboundary";

// n frames as the box sends them: the delimiter first, nothing after a picture.
StreamParts boxFrames(int n)
{
    StreamParts s(StreamParts::Layout::BreakThenFrame);
    for (int i = 0; i < n; ++i)
        s.part(StreamParts::frame(i % 3));
    return s;
}

} // namespace

class tst_StreamTask : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { parts.clear(), errors.clear(), misplaced = 0; }
    void transfer_data();
    void transfer();
    void fastServerDoesNotPileUpBehindABusyMainThread();

private:
    // A transfer whose reports go to the members below.
    QPointer<StreamTask> start(const QString &base, std::function<void()> afterData)
    {
        auto *task = new StreamTask(m_manager, QUrl(base + "/?action=stream"),
                                    {[this](qint64 declared) {
                                         misplaced += errors.size(); // nothing after the end
                                         parts.append(StreamParts::Part{declared, {}});
                                     },
                                     [this, afterData](QByteArrayView bytes) {
                                         misplaced += errors.size();
                                         parts.last().body.append(bytes.data(), bytes.size());
                                         afterData();
                                     },
                                     [this](Error e) { errors << e; }},
                                    nullptr);
        task->resume();
        return task;
    }
    QNetworkAccessManager m_manager;
    QList<StreamParts::Part> parts;
    QList<Error> errors; // one per end report
    qsizetype misplaced = 0;
};

void tst_StreamTask::transfer_data()
{
    // The framings are the splitter's; here the HTTP around them, and its ends.
    QTest::addColumn<QByteArray>("head"); // none: nothing listens
    QTest::addColumn<QByteArray>("body"); // then the server closes, or stays until stopped
    QTest::addColumn<StreamParts>("want");
    QTest::addColumn<Stop>("stop");
    QTest::addColumn<QList<Error>>("ends");
    const QByteArray head = StreamParts::httpHead(kType), plain(777, 'p');
    StreamParts cutOff = boxFrames(3);
    cutOff.part(StreamParts::frame(3).left(100), StreamParts::frame(3).size());
    QTest::newRow("chunked, as ffmpeg spells it")
        << "HTTP/1.1 200 OK\r\nContent-type: " + kType + "\r\nTransfer-Encoding: chunked\r\n\r\n"
        << StreamParts::chunked(boxFrames(3).bytes(), 7) << boxFrames(3) << Stop::None
        << QList{QNetworkReply::NoError};
    QTest::newRow("HTTP/1.0, the server closes in a part")
        << "HTTP/1.0 200 OK\r\ncontent-type: " + kType + "\r\n\r\n"
        << cutOff.bytes() << cutOff << Stop::None << QList{QNetworkReply::NoError};
    QTest::newRow("connection lost")
        << StreamParts::httpHead(kType, "Content-Length: 100000\r\n") << cutOff.bytes() << cutOff
        << Stop::None << QList{QNetworkReply::RemoteHostClosedError};
    QTest::newRow("no stream: one part of the answer's length")
        << StreamParts::httpHead("image/jpeg", "Content-Length: 777\r\n") << plain
        << StreamParts().body(plain, 777) << Stop::None << QList{QNetworkReply::NoError};
    QTest::newRow("refused") << QByteArray() << QByteArray() << StreamParts() << Stop::None
                             << QList{QNetworkReply::ConnectionRefusedError};
    QTest::newRow("cancel") << head << QByteArray() << boxFrames(50) << Stop::Cancel
                            << QList{QNetworkReply::OperationCanceledError};
    QTest::newRow("cancel from inside a report")
        << head << boxFrames(20).bytes() << boxFrames(2) << Stop::CancelInReport
        << QList{QNetworkReply::OperationCanceledError};
    QTest::newRow("deleted") << head << QByteArray() << boxFrames(50) << Stop::Delete
                             << QList<Error>();
}

void tst_StreamTask::transfer()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, body);
    QFETCH(StreamParts, want);
    QFETCH(Stop, stop);
    QFETCH(QList<Error>, ends);
    const bool streams = stop == Stop::Cancel || stop == Stop::Delete;
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        socket->write(head);
        LoopbackServer::writeSliced(socket, body, stop == Stop::None ? 13 : body.size());
        if (stop == Stop::None)
            socket->disconnectFromHost();
        auto *timer = new QTimer(socket); // a frame every 20 ms
        connect(timer, &QTimer::timeout, socket, [&, socket, n = 0]() mutable {
            const qsizetype from = n ? want.parts()[n - 1].end : 0;
            socket->write(want.bytes().mid(from, want.parts()[n++].end - from));
        });
        if (streams)
            timer->start(20);
    });
    QPointer<StreamTask> task;
    const QString closed = QStringLiteral("http://127.0.0.1:%1").arg(LoopbackServer::closedPort());
    task = start(head.isEmpty() ? closed : server.baseUrl(), [&] {
        if (stop == Stop::CancelInReport && parts.size() == 2 && task)
            task->cancel(); // with parts still to report from the same read
    });
    QVERIFY(task->isRunning());
    if (streams) {
        QTRY_VERIFY(parts.size() >= 3);
        if (stop == Stop::Delete)
            delete task.data();
        for (int i = 0; i < 2 && task; ++i)
            task->cancel(); // the second changes nothing
        QVERIFY(!task || !task->isRunning());
        QCOMPARE(errors.size(), 0); // never from inside cancel()
    }
    QTRY_VERIFY(task.isNull()); // gone after its end: no report can follow
    QTRY_COMPARE(errors, ends);
    const qsizetype reported = parts.size();
    QTest::qWait(200); // a streaming server goes on writing
    QCOMPARE(errors, ends);
    QCOMPARE(misplaced, 0);
    QCOMPARE(parts.size(), streams ? reported : want.parts().size());
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QCOMPARE(parts[i].declared, want.parts()[i].declared);
        QCOMPARE(parts[i].body, want.parts()[i].body);
    }
    for (const QPointer<QTcpSocket> &socket : server.sockets()) // closed by the client
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
