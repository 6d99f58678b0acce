#include "stream/StreamTask.h"

#include "support/LoopbackServer.h"
#include "support/StreamParts.h"

#include <QNetworkAccessManager>
#include <QTest>
#include <QTimer>

namespace
{

using Reply = QNetworkReply;
enum class Stop { None, Cancel, CancelInReport, CancelInFlush, Silent };
constexpr std::chrono::milliseconds kShortIdle{600};
const QByteArray kType = "multipart/x-mixed-replace;boundary=myboundary";

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
    StreamParts two, three, cutOff; // as the box sends frames: nothing after a picture
    two.part(StreamParts::frame(0)).part(StreamParts::frame(1));
    (three = two).part(StreamParts::frame(2));
    (cutOff = three).part(StreamParts::frame(3).left(100), StreamParts::frame(3).size());
    QTest::newRow("chunked, as ffmpeg spells it")
        << "HTTP/1.1 200 OK\r\nContent-type: " + kType + "\r\nTransfer-Encoding: chunked\r\n\r\n"
        << StreamParts::chunked(three.bytes(), 7) << three << Stop::None << Reply::NoError;
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
    QTest::newRow("cancel") << head << three.bytes() << three << Stop::Cancel
                            << Reply::OperationCanceledError;
    QTest::newRow("cancel from inside a report")
        << head << three.bytes() << two << Stop::CancelInReport << Reply::OperationCanceledError;
    // Bytes that could start a delimiter wait for the body's end: reported by the final flush.
    StreamParts held;
    held.part(StreamParts::frame(0) + "x\r\n--");
    QTest::newRow("cancel from inside the last part's flush")
        << head << held.bytes() << held << Stop::CancelInFlush << Reply::OperationCanceledError;
    QTest::newRow("silent after slow bytes, open")
        << head << three.bytes() << three << Stop::Silent << Reply::TimeoutError;
}

void tst_StreamTask::transfer()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, body);
    QFETCH(StreamParts, want);
    QFETCH(Stop, stop);
    QFETCH(Reply::NetworkError, error);
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        if (stop == Stop::Silent) { // six slices, each within the idle limit, all beyond it
            auto *drip = new QTimer(socket);
            connect(drip, &QTimer::timeout, socket, [=, n = 0]() mutable {
                socket->write(body.mid(n * (body.size() / 6 + 1), body.size() / 6 + 1));
                if (++n == 6)
                    drip->stop();
            });
            drip->start(kShortIdle / 3);
        }
        socket->write(stop == Stop::Silent ? head : head + body);
        if (stop != Stop::Cancel && stop != Stop::Silent) // else the server stays
            socket->disconnectFromHost();
    });
    QList<StreamParts::Part> parts;
    QList<Reply::NetworkError> errors; // one per end report
    QPointer<StreamTask> task;
    StreamTask::Handlers handlers;
    handlers.partStarted = [&](qint64 declared) { parts.emplaceBack(declared); };
    handlers.partData = [&](QByteArrayView bytes) {
        parts.last().body.append(bytes.data(), bytes.size());
        if ((stop == Stop::CancelInReport && parts.size() == 2) || // parts still to report
            (stop == Stop::CancelInFlush && parts.last().body.size() == parts.last().declared))
            task->cancel();
    };
    handlers.ended = [&](Reply::NetworkError e) { errors << e; };
    const QString closed = QStringLiteral("http://127.0.0.1:%1").arg(LoopbackServer::closedPort());
    const QUrl url((head.isEmpty() ? closed : server.baseUrl()) + "/?action=stream");
    task = new StreamTask(m_manager, url, handlers, nullptr,
                          stop == Stop::Silent ? kShortIdle : StreamTask::kIdleTimeout);
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
    QTest::qWait(200);
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
