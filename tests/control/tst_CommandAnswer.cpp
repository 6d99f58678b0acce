#include "control/CommandAnswer.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

Q_DECLARE_METATYPE(QJsonValue)

// Judging the box's answer from status, content type and body alone.
class tst_CommandAnswer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void contentTypes_data();
    void contentTypes();
    void responseObject_data();
    void responseObject();
    void bodySizeLimit();
    void success_data();
    void success();
};

void tst_CommandAnswer::contentTypes_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("accepted");
    for (const char *type :
         {"text/plain", "multipart/form-data", "application/json", "text/html", "image/jpeg",
          "image/png", "application/octet-stream", "text/json", "text/javascript"})
        QTest::addRow("%s", type) << QByteArray(type) << true;
    QTest::newRow("parameters") << QByteArray("application/json; charset=utf-8") << true;
    QTest::newRow("case and blanks") << QByteArray(" Text/JSON ;x=1") << true;
    QTest::newRow("xml") << QByteArray("application/xml") << false;
    QTest::newRow("javascript app") << QByteArray("application/javascript") << false;
    QTest::newRow("prefix only") << QByteArray("text/jso") << false;
    QTest::newRow("longer") << QByteArray("text/jsonx") << false;
    QTest::newRow("suffix type") << QByteArray("application/problem+json") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("only parameters") << QByteArray(";application/json") << false;
}

void tst_CommandAnswer::contentTypes()
{
    QFETCH(QByteArray, header);
    QFETCH(bool, accepted);
    QCOMPARE(CommandAnswer::isAcceptableContentType(header), accepted);
}

void tst_CommandAnswer::responseObject_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QJsonValue>("expected");

    const QJsonValue none(QJsonValue::Undefined);
    const QByteArray json("application/json");
    QJsonObject ok{{"result", "0"}};
    QTest::newRow("object") << 200 << json << QByteArray(R"({"result":"0"})") << QJsonValue(ok);
    QTest::newRow("blanks around")
        << 200 << json << QByteArray(" \r\n{\"result\":\"0\"}\n ") << QJsonValue(ok);
    QTest::newRow("array") << 200 << json << QByteArray("[1,2]") << QJsonValue(QJsonArray{1, 2});
    QTest::newRow("lone number") << 200 << json << QByteArray("0") << QJsonValue(0);
    QTest::newRow("lone text") << 200 << json << QByteArray(R"("0")") << QJsonValue("0");
    QTest::newRow("null") << 200 << json << QByteArray("null") << QJsonValue(QJsonValue::Null);
    QTest::newRow("two values") << 200 << json << QByteArray("1,2") << none;
    QTest::newRow("trailing garbage") << 200 << json << QByteArray(R"({"result":"0"} x)") << none;
    QTest::newRow("bracket injection") << 200 << json << QByteArray("1],[2") << none;
    QTest::newRow("not json") << 200 << json << QByteArray("result=0") << none;
    QTest::newRow("empty body") << 200 << json << QByteArray() << none;
    QTest::newRow("embedded nul") << 200 << json << QByteArray("0\0", 2) << none;
    QTest::newRow("status 201") << 201 << json << QByteArray(R"({"result":"0"})") << none;
    QTest::newRow("status 0") << 0 << json << QByteArray(R"({"result":"0"})") << none;
    QTest::newRow("status 404") << 404 << json << QByteArray(R"({"result":"0"})") << none;
    QTest::newRow("other type") << 200 << QByteArray("application/xml")
                                << QByteArray(R"({"result":"0"})") << none;
    QTest::newRow("no type") << 200 << QByteArray() << QByteArray(R"({"result":"0"})") << none;
}

void tst_CommandAnswer::responseObject()
{
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QJsonValue, expected);
    const QJsonValue object = CommandAnswer::responseObject(status, contentType, body);
    QCOMPARE(object.type(), expected.type());
    QCOMPARE(object, expected);
}

void tst_CommandAnswer::bodySizeLimit()
{
    // A valid success answer padded to exactly the limit, then one byte more.
    const QByteArray head(R"({"result":"0","pad":")");
    const QByteArray tail(R"("})");
    QByteArray body =
        head + QByteArray(CommandAnswer::kMaxBodyBytes - head.size() - tail.size(), 'x') + tail;
    QCOMPARE(body.size(), CommandAnswer::kMaxBodyBytes);
    QVERIFY(CommandAnswer::isSuccess(CommandAnswer::responseObject(200, "text/plain", body)));
    body.insert(head.size(), 'x');
    QVERIFY(CommandAnswer::responseObject(200, "text/plain", body).isUndefined());
}

void tst_CommandAnswer::success_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("success");
    QTest::newRow("text 0") << QByteArray(R"({"result":"0"})") << true;
    QTest::newRow("other members") << QByteArray(R"({"id":3,"result":"0","msg":"x"})") << true;
    QTest::newRow("number 0") << QByteArray(R"({"result":0})") << false;
    QTest::newRow("text 1") << QByteArray(R"({"result":"1"})") << false;
    QTest::newRow("text -1") << QByteArray(R"({"result":"-1"})") << false;
    QTest::newRow("text 00") << QByteArray(R"({"result":"00"})") << false;
    QTest::newRow("text 0 blank") << QByteArray(R"({"result":"0 "})") << false;
    QTest::newRow("empty text") << QByteArray(R"({"result":""})") << false;
    QTest::newRow("false") << QByteArray(R"({"result":false})") << false;
    QTest::newRow("null") << QByteArray(R"({"result":null})") << false;
    QTest::newRow("nested") << QByteArray(R"({"result":["0"]})") << false;
    QTest::newRow("other case") << QByteArray(R"({"Result":"0"})") << false;
    QTest::newRow("no result") << QByteArray(R"({"status":"0"})") << false;
    QTest::newRow("empty object") << QByteArray("{}") << false;
    QTest::newRow("array") << QByteArray(R"([{"result":"0"}])") << false;
    QTest::newRow("lone text") << QByteArray(R"("0")") << false;
    QTest::newRow("lone number") << QByteArray("0") << false;
    QTest::newRow("not json") << QByteArray("OK") << false;
}

void tst_CommandAnswer::success()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, success);
    QCOMPARE(CommandAnswer::isSuccess(CommandAnswer::responseObject(200, "application/json", body)),
             success);
}

QTEST_GUILESS_MAIN(tst_CommandAnswer)
#include "tst_CommandAnswer.moc"
