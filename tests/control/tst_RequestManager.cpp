#include "control/CommandUrl.h"
#include "control/RequestManager.h"
#include "platform/CameraAddress.h"
#include "support/LoopbackServer.h"

#include <QCoreApplication>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QTcpServer>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <linux/v4l2-controls.h>

#include <latch>
#include <memory>
#include <vector>

using CommandUrl::ControlId;

// The identifiers must be the published Video4Linux2 ones: the box passes
// them straight to its camera driver.
static_assert(quint32(ControlId::FocusAuto) == V4L2_CID_FOCUS_AUTO);
static_assert(quint32(ControlId::FocusAbsolute) == V4L2_CID_FOCUS_ABSOLUTE);
static_assert(quint32(ControlId::ExposureAuto) == V4L2_CID_EXPOSURE_AUTO);
static_assert(quint32(ControlId::ExposureAbsolute) == V4L2_CID_EXPOSURE_ABSOLUTE);
static_assert(quint32(ControlId::AutoWhiteBalance) == V4L2_CID_AUTO_WHITE_BALANCE);
static_assert(quint32(ControlId::WhiteBalanceTemperature) == V4L2_CID_WHITE_BALANCE_TEMPERATURE);

Q_DECLARE_METATYPE(QJsonValue)

namespace
{

struct Answer {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body = R"({"result":"0"})";
    QByteArray extraHeaders;
    bool declareLength = true;
};

// Writes one answer and closes, so that every command gets its own connection.
void writeAnswer(QTcpSocket *socket, const Answer &answer)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) +
                      (answer.status == 200 ? " OK\r\n" : " Other\r\n");
    if (!answer.contentType.isEmpty())
        head += "Content-Type: " + answer.contentType + "\r\n";
    if (answer.declareLength)
        head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
    head += answer.extraHeaders + "Connection: close\r\n\r\n";
    socket->write(head + answer.body);
    socket->disconnectFromHost();
}

LoopbackServer::Responder answering(Answer answer = {})
{
    return [answer](QTcpSocket *socket, const QByteArray &) { writeAnswer(socket, answer); };
}

// Counts the calls of a success completion and where they ran.
struct Outcomes {
    int calls = 0;
    int offMainThread = 0;
    bool last = false;

    RequestManager::SuccessCompletion completion()
    {
        return [this](bool success) {
            ++calls;
            offMainThread += QThread::currentThread() != QCoreApplication::instance()->thread();
            last = success;
        };
    }
};

bool isMainThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

void pointAt(const LoopbackServer &server)
{
    QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
}

} // namespace

Q_DECLARE_METATYPE(Answer)

class tst_RequestManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void wireFormat();
    void focusStepReportsSecondOnly_data();
    void focusStepReportsSecondOnly();
    void focusStepDoesNotWaitForFirst();
    void judgesAnswers_data();
    void judgesAnswers();
    void responseObjects_data();
    void responseObjects();
    void parametersAreAppended();
    void malformedUrlIsNotSent();
    void refusedConnection();
    void silentBoxTimesOut();
    void tricklingBoxTimesOut();
    void oversizedAnswers_data();
    void oversizedAnswers();
    void releasedManagerCallsNothing();
    void sharedManagerAcrossThreads();
    void commandFromWorkerThread();
};

void tst_RequestManager::cleanup()
{
    // Each test starts with a fresh manager; anything still in flight is dropped.
    RequestManager::releaseSharedInstance();
}

void tst_RequestManager::wireFormat()
{
    // Each request comes on a connection of its own; the order in which the
    // server accepted the connections is the order in which they were issued.
    QHash<QTcpSocket *, QByteArray> lineOf;
    LoopbackServer server([&lineOf](QTcpSocket *socket, const QByteArray &line) {
        lineOf.insert(socket, line);
        writeAnswer(socket, {});
    });
    pointAt(server);

    RequestManager &manager = RequestManager::sharedManager();
    Outcomes outcomes;
    manager.setLeftCompleted(outcomes.completion());
    manager.setRightCompleted(outcomes.completion());
    manager.setFocusStyle("0", outcomes.completion());
    manager.setFocusWithValue("55", outcomes.completion());
    const std::pair<ControlId, const char *> controls[] = {
        {ControlId::ExposureAuto, "1"},       {ControlId::ExposureAuto, "3"},
        {ControlId::ExposureAbsolute, "250"}, {ControlId::AutoWhiteBalance, "1"},
        {ControlId::AutoWhiteBalance, "0"},   {ControlId::WhiteBalanceTemperature, "4600"},
        {ControlId::FocusAbsolute, "15"},     {ControlId::FocusAbsolute, "10"},
        {ControlId::FocusAbsolute, "85"},     {ControlId::FocusAbsolute, "80"},
    };
    for (const auto &[id, value] : controls)
        manager.setParameterWithIdValue(CommandUrl::parameterString(id, value),
                                        outcomes.completion());
    for (qint64 tag = 0; tag <= 11; ++tag)
        manager.getApi(CommandUrl::resolutionCommand(tag), {}); // no completion: still sent

    const QList<QByteArray> expected = {
        "GET /?action=commanddest=0plugin=0&id=10094858&group=1&value=20 HTTP/1.1",
        "GET /?action=commanddest=0plugin=0&id=10094858&group=1&value=10 HTTP/1.1",
        "GET /?action=commanddest=0plugin=0&id=10094858&group=1&value=90 HTTP/1.1",
        "GET /?action=commanddest=0plugin=0&id=10094858&group=1&value=80 HTTP/1.1",
        "GET /?action=commanddest=0plugin=0&id=10094860&group=1&value=0 HTTP/1.1",
        "GET /?action=commanddest=0plugin=0&id=10094858&group=1&value=55 HTTP/1.1",
        "GET /?action=commanddest=0plugin=0&id=10094849&group=1&value=1 HTTP/1.1",
        "GET /?action=commanddest=0plugin=0&id=10094849&group=1&value=3 HTTP/1.1",
        "GET /?action=commanddest=0plugin=0&id=10094850&group=1&value=250 HTTP/1.1",
        "GET /?action=commanddest=0plugin=0&id=9963788&group=1&value=1 HTTP/1.1",
        "GET /?action=commanddest=0plugin=0&id=9963788&group=1&value=0 HTTP/1.1",
        "GET /?action=commanddest=0plugin=0&id=9963802&group=1&value=4600 HTTP/1.1",
        "GET /?action=commanddest=0plugin=0&id=10094858&group=1&value=15 HTTP/1.1",
        "GET /?action=commanddest=0plugin=0&id=10094858&group=1&value=10 HTTP/1.1",
        "GET /?action=commanddest=0plugin=0&id=10094858&group=1&value=85 HTTP/1.1",
        "GET /?action=commanddest=0plugin=0&id=10094858&group=1&value=80 HTTP/1.1",
        "GET /?action=command&dest=0plugin=0&id=0&group=2&value=0 HTTP/1.1",
        "GET /?action=command&dest=0plugin=0&id=0&group=2&value=1 HTTP/1.1",
        "GET /?action=command&dest=0plugin=0&id=0&group=2&value=2 HTTP/1.1",
        "GET /?action=command&dest=0plugin=0&id=0&group=2&value=3 HTTP/1.1",
        "GET /?action=command&dest=0plugin=0&id=0&group=2&value=4 HTTP/1.1",
        "GET /?action=command&dest=0plugin=0&id=0&group=2&value=5 HTTP/1.1",
        "GET /?action=command&dest=0plugin=0&id=0&group=2&value=6 HTTP/1.1",
        "GET /?action=command&dest=0plugin=0&id=0&group=2&value=7 HTTP/1.1",
        "GET /?action=command&dest=0plugin=0&id=0&group=2&value=8 HTTP/1.1",
        "GET /?action=command&dest=0plugin=0&id=0&group=2&value=9 HTTP/1.1",
        "GET /?action=command&dest=0plugin=0&id=0&group=2&value=10 HTTP/1.1",
        "GET /?action=command&dest=0plugin=0&id=0&group=2&value=11 HTTP/1.1",
    };
    QTRY_COMPARE(server.requestLines().size(), expected.size());
    QList<QByteArray> issued;
    for (const auto &socket : server.sockets())
        if (lineOf.contains(socket.data()))
            issued.append(lineOf.value(socket.data()));
    QCOMPARE(issued, expected);

    QTRY_COMPARE(outcomes.calls, 14);
    QTest::qWait(50);
    QCOMPARE(outcomes.calls, 14);
    QCOMPARE(outcomes.offMainThread, 0);
    QVERIFY(outcomes.last);
    QCOMPARE(server.requestLines().size(), expected.size());
}

void tst_RequestManager::focusStepReportsSecondOnly_data()
{
    QTest::addColumn<bool>("left");
    QTest::addColumn<QByteArray>("firstValue");
    QTest::addColumn<bool>("firstSucceeds");
    QTest::newRow("left, first fails") << true << QByteArray("value=20 ") << false;
    QTest::newRow("left, second fails") << true << QByteArray("value=20 ") << true;
    QTest::newRow("right, first fails") << false << QByteArray("value=90 ") << false;
    QTest::newRow("right, second fails") << false << QByteArray("value=90 ") << true;
}

void tst_RequestManager::focusStepReportsSecondOnly()
{
    QFETCH(bool, left);
    QFETCH(QByteArray, firstValue);
    QFETCH(bool, firstSucceeds);
    const Answer success;
    const Answer failure{200, "application/json", R"({"result":"1"})", {}, true};
    LoopbackServer server([&](QTcpSocket *socket, const QByteArray &line) {
        const bool first = line.contains(firstValue);
        writeAnswer(socket, first == firstSucceeds ? success : failure);
    });
    pointAt(server);

    Outcomes outcomes;
    if (left)
        RequestManager::sharedManager().setLeftCompleted(outcomes.completion());
    else
        RequestManager::sharedManager().setRightCompleted(outcomes.completion());
    QTRY_COMPARE(outcomes.calls, 1);
    QTRY_COMPARE(server.requestLines().size(), 2);
    QTest::qWait(50);
    QCOMPARE(outcomes.calls, 1);
    QCOMPARE(outcomes.last, !firstSucceeds);
}

void tst_RequestManager::focusStepDoesNotWaitForFirst()
{
    // The box never answers the first value; the second still goes out and
    // its answer is reported.
    LoopbackServer server([](QTcpSocket *socket, const QByteArray &line) {
        if (!line.contains("value=20 "))
            writeAnswer(socket, {});
    });
    pointAt(server);
    Outcomes outcomes;
    RequestManager::sharedManager().setLeftCompleted(outcomes.completion());
    QTRY_COMPARE(outcomes.calls, 1);
    QVERIFY(outcomes.last);
    QCOMPARE(server.requestLines().size(), 2);
}

void tst_RequestManager::judgesAnswers_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("success");
    const QByteArray json("application/json");
    const QByteArray ok(R"({"result":"0"})");
    QTest::newRow("text 0") << Answer{} << true;
    QTest::newRow("text 0, text/html")
        << Answer{200, "text/html; charset=UTF-8", ok, {}, true} << true;
    QTest::newRow("text 0, no length") << Answer{200, json, ok, {}, false} << true;
    QTest::newRow("number 0") << Answer{200, json, R"({"result":0})", {}, true} << false;
    QTest::newRow("other text") << Answer{200, json, R"({"result":"-1"})", {}, true} << false;
    QTest::newRow("no result") << Answer{200, json, R"({"code":"0"})", {}, true} << false;
    QTest::newRow("array") << Answer{200, json, R"([{"result":"0"}])", {}, true} << false;
    QTest::newRow("lone text") << Answer{200, json, R"("0")", {}, true} << false;
    QTest::newRow("lone number") << Answer{200, json, "0", {}, true} << false;
    QTest::newRow("not json") << Answer{200, json, "result=0", {}, true} << false;
    QTest::newRow("empty body") << Answer{200, json, {}, {}, true} << false;
    QTest::newRow("status 201") << Answer{201, json, ok, {}, true} << false;
    QTest::newRow("status 203") << Answer{203, json, ok, {}, true} << false;
    QTest::newRow("status 404") << Answer{404, json, ok, {}, true} << false;
    QTest::newRow("status 500") << Answer{500, json, ok, {}, true} << false;
    QTest::newRow("redirect") << Answer{302, json, ok, "Location: /?action=stream\r\n", true}
                              << false;
    QTest::newRow("other type") << Answer{200, "application/xml", ok, {}, true} << false;
    QTest::newRow("no type") << Answer{200, {}, ok, {}, true} << false;
    QTest::newRow("truncated") << Answer{200, json, ok, "Content-Length: 40\r\n", false} << false;
}

void tst_RequestManager::judgesAnswers()
{
    QFETCH(Answer, answer);
    QFETCH(bool, success);
    LoopbackServer server(answering(answer));
    pointAt(server);
    Outcomes outcomes;
    RequestManager::sharedManager().setFocusStyle("0", outcomes.completion());
    QCOMPARE(outcomes.calls, 0); // never inside the call
    QTRY_COMPARE(outcomes.calls, 1);
    QTest::qWait(50);
    QCOMPARE(outcomes.calls, 1);
    QCOMPARE(outcomes.offMainThread, 0);
    QCOMPARE(outcomes.last, success);
    QCOMPARE(server.requestLines().size(), 1);
}

void tst_RequestManager::responseObjects_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QJsonValue>("expected");
    const QByteArray json("text/plain");
    QTest::newRow("object") << Answer{} << QJsonValue(QJsonObject{{"result", "0"}});
    QTest::newRow("array") << Answer{200, json, "[1,\"a\"]", {}, true}
                           << QJsonValue(QJsonArray{1, "a"});
    QTest::newRow("lone number") << Answer{200, json, "7", {}, true} << QJsonValue(7);
    QTest::newRow("lone text") << Answer{200, json, "\"0\"", {}, true} << QJsonValue("0");
    QTest::newRow("not json") << Answer{200, json, "{", {}, true}
                              << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("status 202") << Answer{202, json, "7", {}, true}
                                << QJsonValue(QJsonValue::Undefined);
}

void tst_RequestManager::responseObjects()
{
    QFETCH(Answer, answer);
    QFETCH(QJsonValue, expected);
    LoopbackServer server(answering(answer));
    pointAt(server);
    int calls = 0;
    QJsonValue object;
    QString error("unset");
    RequestManager::sharedManager().getApi(CommandUrl::resolutionCommand(5), {},
                                           [&](const QJsonValue &value, const QString &text) {
                                               ++calls;
                                               QVERIFY(isMainThread());
                                               object = value;
                                               error = text;
                                           });
    QTRY_COMPARE(calls, 1);
    QCOMPARE(object.type(), expected.type());
    QCOMPARE(object, expected);
    QVERIFY(error.isEmpty());
}

void tst_RequestManager::parametersAreAppended()
{
    LoopbackServer server(answering());
    pointAt(server);
    RequestManager &manager = RequestManager::sharedManager();
    manager.getApi(CommandUrl::resolutionCommand(3), {{"b", "x y&z"}, {"a", 1}});
    QTRY_COMPARE(server.requestLines().size(), 1);
    manager.getApi(server.baseUrl() + "/", {{"k", "v"}});
    QTRY_COMPARE(server.requestLines().size(), 2);
    QCOMPARE(server.requestLines().at(0),
             "GET /?action=command&dest=0plugin=0&id=0&group=2&value=3&a=1&b=x%20y%26z HTTP/1.1");
    QCOMPARE(server.requestLines().at(1), "GET /?k=v HTTP/1.1");
}

void tst_RequestManager::malformedUrlIsNotSent()
{
    // A value the query cannot carry as written is refused, not re-encoded.
    LoopbackServer server(answering());
    pointAt(server);
    Outcomes outcomes;
    RequestManager &manager = RequestManager::sharedManager();
    manager.setFocusWithValue("1 0", outcomes.completion());
    manager.setParameterWithIdValue("10094858&group=1&value=%zz", outcomes.completion());
    int responses = 0;
    manager.getApi("ftp://127.0.0.1/x", {}, [&](const QJsonValue &value, const QString &) {
        responses += value.isUndefined() && isMainThread();
    });
    QCOMPARE(outcomes.calls, 0);
    QCOMPARE(responses, 0);
    QTRY_COMPARE(outcomes.calls, 2);
    QTRY_COMPARE(responses, 1);
    QVERIFY(!outcomes.last);
    QCOMPARE(outcomes.offMainThread, 0);
    QTest::qWait(50);
    QVERIFY(server.requestLines().isEmpty());
}

void tst_RequestManager::refusedConnection()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    QVERIFY(CameraAddress::setBaseUrl(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port))));

    RequestManager &manager = RequestManager::sharedManager();
    Outcomes focus, left, parameter;
    manager.setFocusStyle("0", focus.completion());
    manager.setLeftCompleted(left.completion());
    manager.setParameterWithIdValue(CommandUrl::parameterString(ControlId::ExposureAuto, "1"),
                                    parameter.completion());
    int responses = 0;
    manager.getApi(CommandUrl::resolutionCommand(0), {},
                   [&](const QJsonValue &value, const QString &error) {
                       responses += value.isUndefined() && error.isEmpty() && isMainThread();
                   });
    QTRY_VERIFY(focus.calls && left.calls && parameter.calls && responses);
    QTest::qWait(50);
    for (const Outcomes *outcome : {&focus, &left, &parameter}) {
        QCOMPARE(outcome->calls, 1);
        QCOMPARE(outcome->offMainThread, 0);
        QVERIFY(!outcome->last);
    }
    QCOMPARE(responses, 1);
}

void tst_RequestManager::silentBoxTimesOut()
{
    LoopbackServer server([](QTcpSocket *, const QByteArray &) {}); // reads, never answers
    pointAt(server);
    RequestManager &manager = RequestManager::sharedManager();
    QCOMPARE(manager.requestTimeout(), std::chrono::milliseconds(10000));
    manager.setRequestTimeout(std::chrono::milliseconds(300));
    Outcomes outcomes;
    manager.setFocusStyle("0", outcomes.completion());
    QTRY_COMPARE(outcomes.calls, 1);
    QVERIFY(!outcomes.last);
    QCOMPARE(server.requestLines().size(), 1);
    QTest::qWait(100);
    QCOMPARE(outcomes.calls, 1);
}

void tst_RequestManager::tricklingBoxTimesOut()
{
    // One byte every 50 ms keeps the connection busy forever; the time-out
    // counts from the request, not from the last byte.
    std::vector<std::unique_ptr<QTimer>> drips;
    LoopbackServer server([&drips](QTcpSocket *socket, const QByteArray &) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                      "Content-Length: 100000\r\n\r\n{\"result\":\"0\",\"pad\":\"");
        auto timer = std::make_unique<QTimer>();
        QObject::connect(timer.get(), &QTimer::timeout, socket, [socket] { socket->write("x"); });
        timer->start(50);
        drips.push_back(std::move(timer));
    });
    pointAt(server);
    RequestManager &manager = RequestManager::sharedManager();
    manager.setRequestTimeout(std::chrono::milliseconds(400));
    Outcomes outcomes;
    manager.setFocusStyle("0", outcomes.completion());
    QTRY_COMPARE(outcomes.calls, 1);
    QVERIFY(!outcomes.last);
}

void tst_RequestManager::oversizedAnswers_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("success");
    const auto padded = [](qsizetype size) {
        const QByteArray head(R"({"result":"0","pad":")");
        return head + QByteArray(size - head.size() - 2, 'x') + "\"}";
    };
    QTest::newRow("60 KiB") << Answer{200, "application/json", padded(60 * 1024), {}, true} << true;
    QTest::newRow("100 KiB") << Answer{200, "application/json", padded(100 * 1024), {}, true}
                             << false;
    QTest::newRow("100 KiB, undeclared")
        << Answer{200, "application/json", padded(100 * 1024), {}, false} << false;
    QTest::newRow("4 MiB, undeclared")
        << Answer{200, "application/json", padded(4 * 1024 * 1024), {}, false} << false;
}

void tst_RequestManager::oversizedAnswers()
{
    QFETCH(Answer, answer);
    QFETCH(bool, success);
    LoopbackServer server(answering(answer));
    pointAt(server);
    Outcomes outcomes;
    RequestManager::sharedManager().setFocusStyle("0", outcomes.completion());
    QTRY_COMPARE(outcomes.calls, 1);
    QCOMPARE(outcomes.last, success);
    QTest::qWait(50);
    QCOMPARE(outcomes.calls, 1);
}

void tst_RequestManager::releasedManagerCallsNothing()
{
    // The server holds every request until the test lets it answer.
    QList<QPointer<QTcpSocket>> held;
    LoopbackServer server([&held](QTcpSocket *socket, const QByteArray &) { held.append(socket); });
    pointAt(server);
    const auto answerHeld = [&held] {
        for (const auto &socket : std::exchange(held, {}))
            if (socket)
                writeAnswer(socket, {});
    };
    Outcomes outcomes;

    // Released before anything went out, one completion already posted.
    RequestManager::sharedManager().setFocusStyle("0", outcomes.completion());
    RequestManager::sharedManager().setFocusWithValue("1 0", outcomes.completion());
    RequestManager::releaseSharedInstance();
    QVERIFY(!RequestManager::hasSharedInstance());
    QTest::qWait(200);
    answerHeld();
    QTest::qWait(200);
    QCOMPARE(outcomes.calls, 0);

    // Released while the request is in flight; the answer comes afterwards.
    const qsizetype before = server.requestLines().size();
    RequestManager::sharedManager().setFocusStyle("0", outcomes.completion());
    QTRY_COMPARE(server.requestLines().size(), before + 1);
    RequestManager::releaseSharedInstance();
    answerHeld();
    QTest::qWait(300);
    QCOMPARE(outcomes.calls, 0);

    // The same exchange with the manager kept does report.
    RequestManager::sharedManager().setFocusStyle("0", outcomes.completion());
    QTRY_COMPARE(server.requestLines().size(), before + 2);
    answerHeld();
    QTRY_COMPARE(outcomes.calls, 1);
    QVERIFY(outcomes.last);
}

void tst_RequestManager::sharedManagerAcrossThreads()
{
    constexpr int kThreads = 8;
    std::latch start(kThreads);
    std::vector<RequestManager *> seen(kThreads, nullptr);
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back(QThread::create([&, i] {
            start.arrive_and_wait();
            seen[i] = &RequestManager::sharedManager();
        }));
        threads.back()->start();
    }
    for (auto &thread : threads)
        QVERIFY(thread->wait(10000));
    for (RequestManager *manager : seen)
        QCOMPARE(manager, &RequestManager::sharedManager());
    QCOMPARE(RequestManager::sharedManager().thread(), QCoreApplication::instance()->thread());
}

void tst_RequestManager::commandFromWorkerThread()
{
    LoopbackServer server(answering());
    pointAt(server);
    const QString url = CommandUrl::resolutionCommand(7);
    int calls = 0;
    bool onMain = false;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        RequestManager::sharedManager().getApi(url, {},
                                               [&](const QJsonValue &value, const QString &) {
                                                   ++calls;
                                                   onMain = isMainThread() && value.isObject();
                                               });
    }));
    worker->start();
    QVERIFY(worker->wait(10000));
    QTRY_COMPARE(calls, 1);
    QVERIFY(onMain);
    QCOMPARE(
        server.requestLines(),
        QList<QByteArray>{"GET /?action=command&dest=0plugin=0&id=0&group=2&value=7 HTTP/1.1"});
}

QTEST_GUILESS_MAIN(tst_RequestManager)
#include "tst_RequestManager.moc"
