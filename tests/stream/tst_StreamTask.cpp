#include "stream/MultipartFixtures.h"
#include "stream/StreamTask.h"

#include "support/LoopbackServer.h"
#include "support/ProcessFigures.h"
#include "support/ThreadedServer.h"

#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

using fixtures::ExpectedPart;
using fixtures::Framing;

namespace
{

enum class Transfer { Chunked, CloseDelimited, ContentLength };

// What a transfer reported, in order; anything after the end is a fault.
struct Recorder {
    struct Part {
        qint64 declared = -1;
        QByteArray bytes;
    };
    QList<Part> parts;
    int ends = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QStringList faults;
    std::function<void(const Recorder &)> afterData; // a test's hook

    StreamTask::Handlers handlers()
    {
        return {[this](qint64 declared) {
                    if (ends > 0)
                        faults << QStringLiteral("a part started after the end");
                    parts.append(Part{declared, {}});
                },
                [this](QByteArrayView bytes) {
                    if (ends > 0 || parts.isEmpty())
                        faults << QStringLiteral("bytes outside a part");
                    else
                        parts.last().bytes.append(bytes.data(), bytes.size());
                    if (afterData)
                        afterData(*this);
                },
                [this](QNetworkReply::NetworkError e) {
                    ++ends;
                    error = e;
                }};
    }
};

QString mismatch(const Recorder &r, const QList<ExpectedPart> &expected)
{
    if (!r.faults.isEmpty())
        return r.faults.join(QStringLiteral("; "));
    if (r.parts.size() != expected.size())
        return QStringLiteral("%1 parts instead of %2").arg(r.parts.size()).arg(expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (r.parts[i].declared != expected[i].declared || r.parts[i].bytes != expected[i].bytes)
            return QStringLiteral("part %1: declared %2, %3 bytes; expected %4, %5 bytes")
                .arg(i)
                .arg(r.parts[i].declared)
                .arg(r.parts[i].bytes.size())
                .arg(expected[i].declared)
                .arg(expected[i].bytes.size());
    }
    return {};
}

QByteArray head(Transfer transfer, const QByteArray &contentType, qsizetype length)
{
    switch (transfer) {
    case Transfer::Chunked:
        // Spelled the way ffmpeg's server spells it.
        return "HTTP/1.1 200 OK\r\nContent-type: " + contentType +
               "\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
    case Transfer::CloseDelimited:
        return "HTTP/1.0 200 OK\r\ncontent-type: " + contentType + "\r\n\r\n";
    case Transfer::ContentLength:
        return "HTTP/1.1 200 OK\r\nCONTENT-TYPE: " + contentType +
               "\r\nContent-Length: " + QByteArray::number(length) + "\r\n\r\n";
    }
    return {};
}

// A frame of the standard framing, with the delimiter in front.
QByteArray frame(int index)
{
    const QByteArray jpeg = fixtures::frameJpeg(index);
    return "\r\n--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " +
           QByteArray::number(jpeg.size()) + "\r\n\r\n" + jpeg;
}

const QByteArray kStreamType = "multipart/x-mixed-replace;boundary=myboundary";

} // namespace

class tst_StreamTask : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void framingOverHttp_data();
    void framingOverHttp();
    void lastBytesDoNotWaitForTheNextDelimiter_data();
    void lastBytesDoNotWaitForTheNextDelimiter();
    void plainPictureAnswerIsOnePart();

    void cancelReportsOneEndLater();
    void cancelFromInsideAReport();
    void serverDroppingTheConnectionEndsOnce();
    void refusedConnectionEndsOnce();
    void deletingARunningTaskReportsNothing();
    void fastServerDoesNotPileUpBehindABusyMainThread();

private:
    QNetworkAccessManager m_manager;
};

void tst_StreamTask::framingOverHttp_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<Transfer>("transfer");
    QTest::addColumn<int>("chunkSize");
    const QList<Framing> all = fixtures::framings(false);
    const QList<std::tuple<const char *, Transfer, int>> modes = {
        {"chunked by 1", Transfer::Chunked, 1},
        {"chunked by 7", Transfer::Chunked, 7},
        {"chunked by 1000", Transfer::Chunked, 1000},
        {"HTTP/1.0 until close", Transfer::CloseDelimited, 0},
        {"Content-Length", Transfer::ContentLength, 0},
    };
    for (int i = 0; i < all.size(); ++i)
        for (const auto &[mode, transfer, chunkSize] : modes)
            QTest::addRow("%s, %s", qPrintable(all[i].name), mode) << i << transfer << chunkSize;
}

void tst_StreamTask::framingOverHttp()
{
    QFETCH(int, index);
    QFETCH(Transfer, transfer);
    QFETCH(int, chunkSize);
    const Framing f = fixtures::framings(false).at(index);
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        const QByteArray body =
            transfer == Transfer::Chunked ? fixtures::chunked(f.stream, chunkSize) : f.stream;
        socket->write(head(transfer, f.contentType, f.stream.size()));
        LoopbackServer::writeSliced(socket, body, 13);
        if (transfer != Transfer::ContentLength)
            socket->disconnectFromHost();
    });
    Recorder r;
    QPointer<StreamTask> task = new StreamTask(
        m_manager, QUrl(server.baseUrl() + "/?action=stream"), r.handlers(), nullptr);
    task->resume();
    QTRY_COMPARE_WITH_TIMEOUT(r.ends, 1, 10000);
    QCOMPARE(r.error, QNetworkReply::NoError);
    const QString wrong = mismatch(r, f.parts);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QTRY_VERIFY(task.isNull()); // gone after its end: no further report can come
    QCOMPARE(r.ends, 1);
    QCOMPARE(server.requestLines(), QList<QByteArray>{"GET /?action=stream HTTP/1.1"});
}

void tst_StreamTask::lastBytesDoNotWaitForTheNextDelimiter_data()
{
    QTest::addColumn<Transfer>("transfer");
    QTest::newRow("chunked") << Transfer::Chunked;
    QTest::newRow("HTTP/1.0 until close") << Transfer::CloseDelimited;
}

void tst_StreamTask::lastBytesDoNotWaitForTheNextDelimiter()
{
    // The box sends each frame as one write, delimiter first. A frame must be
    // whole as soon as its last byte is in, not when the next frame comes.
    QFETCH(Transfer, transfer);
    QPointer<QTcpSocket> client;
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        client = socket;
        socket->write(head(transfer, kStreamType, 0));
    });
    auto send = [&](const QByteArray &bytes) {
        client->write(transfer == Transfer::Chunked
                          ? QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n"
                          : bytes);
        client->flush();
    };
    Recorder r;
    QPointer<StreamTask> task = new StreamTask(
        m_manager, QUrl(server.baseUrl() + "/?action=stream"), r.handlers(), nullptr);
    task->resume();
    QTRY_VERIFY(client);
    for (int i = 0; i < 4; ++i) {
        send(frame(i));
        QTRY_COMPARE(r.parts.size(), i + 1);
        QTRY_COMPARE(r.parts[i].bytes, fixtures::frameJpeg(i));
        QCOMPARE(r.parts[i].declared, fixtures::frameJpeg(i).size());
    }
    QCOMPARE(r.ends, 0);
    client->disconnectFromHost();
    QTRY_COMPARE(r.ends, 1);
    QCOMPARE(r.parts.size(), 4);
    QVERIFY2(r.faults.isEmpty(), qPrintable(r.faults.join(u';')));
}

void tst_StreamTask::plainPictureAnswerIsOnePart()
{
    const QByteArray jpeg = fixtures::frameJpeg(3);
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                      QByteArray::number(jpeg.size()) + "\r\n\r\n");
        LoopbackServer::writeSliced(socket, jpeg, 100);
    });
    Recorder r;
    QPointer<StreamTask> task = new StreamTask(
        m_manager, QUrl(server.baseUrl() + "/?action=stream"), r.handlers(), nullptr);
    task->resume();
    QTRY_COMPARE(r.ends, 1);
    QCOMPARE(r.error, QNetworkReply::NoError);
    QCOMPARE(r.parts.size(), 1);
    QCOMPARE(r.parts[0].declared, jpeg.size());
    QCOMPARE(r.parts[0].bytes, jpeg);
}

void tst_StreamTask::cancelReportsOneEndLater()
{
    LoopbackServer server([](QTcpSocket *socket, const QByteArray &) {
        socket->write(head(Transfer::Chunked, kStreamType, 0));
        auto *timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, socket, [socket, n = 0]() mutable {
            const QByteArray f = frame(n++ % 5);
            socket->write(QByteArray::number(f.size(), 16) + "\r\n" + f + "\r\n");
        });
        timer->start(20);
    });
    Recorder r;
    QPointer<StreamTask> task = new StreamTask(
        m_manager, QUrl(server.baseUrl() + "/?action=stream"), r.handlers(), nullptr);
    QVERIFY(!task->isRunning());
    task->resume();
    QVERIFY(task->isRunning());
    QTRY_VERIFY(r.parts.size() >= 3);
    task->cancel();
    QVERIFY(!task->isRunning());
    QCOMPARE(r.ends, 0); // never from inside cancel()
    task->cancel();      // a second cancel changes nothing
    QTRY_COMPARE(r.ends, 1);
    QCOMPARE(r.error, QNetworkReply::OperationCanceledError);
    const qsizetype partsAtEnd = r.parts.size();
    QTRY_VERIFY(task.isNull());
    QTest::qWait(200); // the server goes on writing for a while
    QCOMPARE(r.ends, 1);
    QCOMPARE(r.parts.size(), partsAtEnd);
    QVERIFY2(r.faults.isEmpty(), qPrintable(r.faults.join(u';')));
    // The connection itself is closed, not left to the server to notice.
    QTRY_VERIFY(server.sockets().value(0).isNull() ||
                server.sockets().value(0)->state() != QAbstractSocket::ConnectedState);
}

void tst_StreamTask::cancelFromInsideAReport()
{
    // Many frames in one write: the cancel comes while the parser is still
    // inside the same read, with more parts to report.
    QByteArray many;
    for (int i = 0; i < 20; ++i)
        many += frame(i % 5);
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &) {
        socket->write(head(Transfer::CloseDelimited, kStreamType, 0) + many);
    });
    Recorder r;
    QPointer<StreamTask> task = new StreamTask(
        m_manager, QUrl(server.baseUrl() + "/?action=stream"), r.handlers(), nullptr);
    r.afterData = [&](const Recorder &rec) {
        if (rec.parts.size() == 2 && task)
            task->cancel();
    };
    task->resume();
    QTRY_COMPARE(r.ends, 1);
    QCOMPARE(r.error, QNetworkReply::OperationCanceledError);
    QTRY_VERIFY(task.isNull());
    QTest::qWait(100);
    QCOMPARE(r.ends, 1);
    QCOMPARE(r.parts.size(), 2);
    QVERIFY2(r.faults.isEmpty(), qPrintable(r.faults.join(u';')));
}

void tst_StreamTask::serverDroppingTheConnectionEndsOnce()
{
    LoopbackServer server([](QTcpSocket *socket, const QByteArray &) {
        socket->write(head(Transfer::CloseDelimited, kStreamType, 0) + frame(0) + frame(1) +
                      frame(2).first(300));
        socket->flush();
        QTimer::singleShot(50, socket, [socket] { socket->abort(); });
    });
    Recorder r;
    QPointer<StreamTask> task = new StreamTask(
        m_manager, QUrl(server.baseUrl() + "/?action=stream"), r.handlers(), nullptr);
    task->resume();
    QTRY_COMPARE(r.ends, 1);
    QTRY_VERIFY(task.isNull());
    QCOMPARE(r.ends, 1);
    QVERIFY(r.parts.size() >= 2);
    QCOMPARE(r.parts[0].bytes, fixtures::frameJpeg(0));
    QCOMPARE(r.parts[1].bytes, fixtures::frameJpeg(1));
    QVERIFY2(r.faults.isEmpty(), qPrintable(r.faults.join(u';')));
}

void tst_StreamTask::refusedConnectionEndsOnce()
{
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    } // closed: nothing listens there now
    Recorder r;
    QPointer<StreamTask> task = new StreamTask(
        m_manager, QUrl(QStringLiteral("http://127.0.0.1:%1/?action=stream").arg(port)),
        r.handlers(), nullptr);
    task->resume();
    QTRY_COMPARE(r.ends, 1);
    QCOMPARE(r.error, QNetworkReply::ConnectionRefusedError);
    QVERIFY(r.parts.isEmpty());
    QTRY_VERIFY(task.isNull());
}

void tst_StreamTask::deletingARunningTaskReportsNothing()
{
    LoopbackServer server([](QTcpSocket *socket, const QByteArray &) {
        socket->write(head(Transfer::CloseDelimited, kStreamType, 0) + frame(0));
    });
    Recorder r;
    QPointer<StreamTask> task = new StreamTask(
        m_manager, QUrl(server.baseUrl() + "/?action=stream"), r.handlers(), nullptr);
    task->resume();
    QTRY_COMPARE(r.parts.size(), 1);
    delete task.data();
    QTest::qWait(200);
    QCOMPARE(r.ends, 0);
    QTRY_VERIFY(server.sockets().value(0).isNull() ||
                server.sockets().value(0)->state() != QAbstractSocket::ConnectedState);
}

void tst_StreamTask::fastServerDoesNotPileUpBehindABusyMainThread()
{
    // A server on threads of its own sends 256 MiB as fast as it can, one
    // endless part; the main thread takes a while over every read, as it
    // does when it decodes and shows frames. What the network layer reads
    // ahead must wait in the kernel, not in this process's memory.
    constexpr qint64 kMiB = 1024 * 1024;
    constexpr qint64 kTotal = 256 * kMiB;
    const QByteArray block(256 * 1024, 'x');
    ThreadedServer server([&](const QByteArray &) {
        return ThreadedServer::Answer{
            head(Transfer::CloseDelimited, kStreamType, 0) +
                "--myboundary\r\nContent-Type: image/jpeg\r\n\r\n",
            [&](qint64 written) { return written < kTotal ? block : QByteArray(); }};
    });
    qint64 received = 0;
    const qint64 heapStart = processfigures::heapInUse();
    qint64 heapPeak = heapStart;
    int ends = 0;
    StreamTask::Handlers handlers{{},
                                  [&](QByteArrayView bytes) {
                                      received += bytes.size();
                                      heapPeak = std::max(heapPeak, processfigures::heapInUse());
                                      QThread::usleep(500);
                                  },
                                  [&](QNetworkReply::NetworkError) { ++ends; }};
    QPointer<StreamTask> task = new StreamTask(
        m_manager, QUrl(server.baseUrl() + "/?action=stream"), std::move(handlers), nullptr);
    task->resume();
    QTRY_VERIFY_WITH_TIMEOUT(ends == 1, 120000);
    QVERIFY(received >= kTotal);
    QVERIFY2(heapPeak - heapStart < 32 * kMiB,
             qPrintable(QStringLiteral("%1 MiB").arg((heapPeak - heapStart) / kMiB)));
}

QTEST_GUILESS_MAIN(tst_StreamTask)
#include "tst_StreamTask.moc"
