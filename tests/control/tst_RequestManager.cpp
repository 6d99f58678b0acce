// The command client against a real HTTP server on loopback: the wire format
// of each operation, the judging of answers, and how every failure completes.

#include "control/CommandAnswer.h"
#include "control/CommandUrl.h"
#include "control/RequestManager.h"
#include "platform/CameraAddress.h"
#include "support/CommandUrls.h"
#include "support/LoopbackServer.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

using namespace std::chrono_literals;
using RM = RequestManager;
using Operation = std::function<void(RM &, RM::SuccessCompletion)>;
Q_DECLARE_METATYPE(Operation)

namespace
{

const QByteArray kSuccess = R"({"result":"0"})";

QByteArray answer(const QByteArray &body, bool declareLength = true)
{
    const QByteArray length = "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n" +
           (declareLength ? length : QByteArray()) + "Connection: close\r\n\r\n" + body;
}

// A success answer padded to size bytes.
QByteArray padded(qsizetype size)
{
    const QByteArray head = R"({"result":"0","pad":")";
    return head + QByteArray(size - head.size() - 2, 'x') + "\"}";
}

// The focus commands and setParameterWithIdValue.
Operation withValue(void (RM::*command)(const QString &, RM::SuccessCompletion), QString value)
{
    return [=](RM &manager, auto done) { (manager.*command)(value, done); };
}

// Issues the operation and waits for its completion: none inside the call,
// then exactly one, on the main thread. Answers whether it reported success.
bool issue(const Operation &operation)
{
    QList<bool> outcomes;
    operation(RM::sharedManager(), [&](bool success) {
        QCOMPARE(QThread::currentThread(), QCoreApplication::instance()->thread());
        outcomes << success;
    });
    [&] {
        QVERIFY(outcomes.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), 1, 10000);
        QTest::qWait(100);
        QCOMPARE(outcomes.size(), 1);
    }();
    return outcomes.value(0);
}

} // namespace

class tst_RequestManager : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { RM::releaseSharedInstance(); } // a fresh manager for every row

    void wireFormat_data()
    {
        using namespace commandurls;
        using CommandUrl::ControlId;
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QList<QByteArray>>("targets");
        QTest::newRow("focus style")
            << withValue(&RM::setFocusStyle, "0") << QList{control(kFocusAuto, "0")};
        QTest::newRow("focus value")
            << withValue(&RM::setFocusWithValue, "55") << QList{control(kFocusAbsolute, "55")};
        QTest::newRow("focus step left")
            << Operation([](RM &m, auto done) { m.setLeftCompleted(done); })
            << QList{control(kFocusAbsolute, "20"), control(kFocusAbsolute, "10")};
        QTest::newRow("focus step right")
            << Operation([](RM &m, auto done) { m.setRightCompleted(done); })
            << QList{control(kFocusAbsolute, "90"), control(kFocusAbsolute, "80")};
        const std::tuple<ControlId, const char *, const char *> controls[] = {
            {ControlId::ExposureAuto, kExposureAuto, "3"},
            {ControlId::ExposureAbsolute, kExposureAbsolute, "250"},
            {ControlId::AutoWhiteBalance, kWhiteBalanceAuto, "0"},
            {ControlId::WhiteBalanceTemperature, kWhiteBalanceTemperature, "4600"}};
        for (const auto &[id, target, value] : controls)
            QTest::addRow("control %s", target)
                << withValue(&RM::setParameterWithIdValue, CommandUrl::parameterString(id, value))
                << QList{control(target, value)};
        QTest::newRow("resolution, parameters appended") << Operation([](RM &manager, auto done) {
            manager.getApi(CommandUrl::resolutionCommand(3), {{"b", "x y&z"}, {"a", 1}},
                           [done](const QJsonValue &object, const QString &error) {
                               done(error.isEmpty() && CommandAnswer::isSuccess(object));
                           });
        }) << QList{resolution(3) + "&a=1&b=x%20y%26z"};
    }

    void wireFormat()
    {
        QFETCH(Operation, operation);
        QFETCH(QList<QByteArray>, targets);
        QList<QByteArray> expected;
        for (const QByteArray &target : targets)
            expected << commandurls::requestLine(target);
        // Only the last request of an operation succeeds: the operation
        // reports that one alone.
        LoopbackServer server([&](QTcpSocket *socket, const QByteArray &line) {
            socket->write(answer(line == expected.last() ? kSuccess : R"({"result":"1"})"));
        });
        QVERIFY(CameraAddress::setBaseUrl(QUrl(server.baseUrl())));
        QVERIFY(issue(operation));
        // Each request has a connection of its own, accepted in the order issued.
        QCOMPARE(server.requestLinesByConnection(), expected);
    }

    void judgesAnswers_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("success");
        const QByteArray json = "application/json", html = " Text/HTML ;x=1";
        const qsizetype limit = CommandAnswer::kMaxBodyBytes;
        QTest::newRow("text 0") << 200 << json << QByteArray(R"( {"id":3,"result":"0"})") << true;
        QTest::newRow("type in any case") << 200 << html << kSuccess << true;
        QTest::newRow("at the limit") << 200 << json << padded(limit) << true;
        QTest::newRow("past the limit") << 200 << json << padded(limit + 1) << false;
        QTest::newRow("number 0") << 200 << json << QByteArray(R"({"result":0})") << false;
        QTest::newRow("two values") << 200 << json << kSuccess + ",1" << false;
        QTest::newRow("status 404") << 404 << json << kSuccess << false;
        QTest::newRow("no type") << 200 << QByteArray() << kSuccess << false;
    }

    void judgesAnswers()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(bool, success);
        QCOMPARE(CommandAnswer::isSuccess(CommandAnswer::responseObject(status, contentType, body)),
                 success);
    }

    // Every way a command fails still completes, once and later. The box
    // either answers the given bytes, stays silent (empty) or is not there.
    void failures_data()
    {
        QTest::addColumn<bool>("boxThere");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("value");
        QTest::newRow("refused") << false << QByteArray() << "0";
        QTest::newRow("no answer") << true << QByteArray() << "0";
        QTest::newRow("overlong") << true << answer(padded(100 << 10)) << "0";
        QTest::newRow("overlong, undeclared") << true << answer(padded(4 << 20), false) << "0";
        QTest::newRow("stray character") << true << answer(kSuccess) << "1 0";
    }

    void failures()
    {
        QFETCH(bool, boxThere);
        QFETCH(QByteArray, reply);
        QFETCH(QString, value);
        LoopbackServer server(
            [&](QTcpSocket *socket, const QByteArray &) { socket->write(reply); });
        const quint16 port = boxThere ? server.port() : LoopbackServer::closedPort();
        QVERIFY(CameraAddress::setBaseUrl(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port))));
        // Only silence may end in the time-out; every other failure comes
        // long before it.
        const bool silent = boxThere && reply.isEmpty();
        RM::sharedManager().setRequestTimeout(silent ? 1s : 1h);
        QVERIFY(!issue(withValue(&RM::setFocusStyle, value)));
    }
};

QTEST_GUILESS_MAIN(tst_RequestManager)
#include "tst_RequestManager.moc"
