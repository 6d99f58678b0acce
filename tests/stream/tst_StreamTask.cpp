#include "stream/StreamTask.h"

#include "support/LoopbackServer.h"
#include "support/StreamParts.h"

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
    void transfer_data();
    void transfer();

private:
    QNetworkAccessManager m_manager;
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
        auto *timer = new QTimer(socket); // the frames of want, one every 20 ms
        connect(timer, &QTimer::timeout, socket, [socket, n = 0]() mutable {
            socket->write(StreamParts().raw("\r\n").part(StreamParts::frame(n++ % 3)).bytes());
        });
        timer->start(20);
    });
    QList<StreamParts::Part> parts;
    QList<Reply::NetworkError> errors; // one per end report
    QPointer<StreamTask> task;
    StreamTask::Handlers handlers;
    handlers.partStarted = [&](qint64 declared) { parts.emplaceBack(declared); };
    handlers.partData = [&](QByteArrayView bytes) {
        parts.last().body.append(bytes.data(), bytes.size());
        if (stop == Stop::CancelInReport && parts.size() == 2)
            task->cancel(); // with parts still to report from the same read
    };
    handlers.ended = [&](Reply::NetworkError e) { errors << e; };
    const QString closed = QStringLiteral("http://127.0.0.1:%1").arg(LoopbackServer::closedPort());
    const QUrl url((head.isEmpty() ? closed : server.baseUrl()) + "/?action=stream");
    task = new StreamTask(m_manager, url, handlers, nullptr);
    task->resume();
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

QTEST_GUILESS_MAIN(tst_StreamTask)
#include "tst_StreamTask.moc"
