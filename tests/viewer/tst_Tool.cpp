// The network check's rule and the tips alert, as the viewer asks for them.

#include "platform/FixedWifiName.h"
#include "support/ViewerFakes.h"
#include "viewer/Tool.h"

#include <QTest>

class tst_Tool : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void networkNameRule_data();
    void networkNameRule();
    void getSSIDIsTheJoinedNetwork();
    void tipsAlertIsTipsWithOneOK();
    void emptyHandlerIsANoOp();
};

void tst_Tool::networkNameRule_data()
{
    QTest::addColumn<std::optional<QString>>("ssid");
    QTest::addColumn<bool>("onTheBox");
    QTest::newRow("exact") << std::optional<QString>(QStringLiteral("Orbilens")) << true;
    QTest::newRow("band suffix") << std::optional<QString>(QStringLiteral("Orbilens-5G")) << true;
    QTest::newRow("serial suffix")
        << std::optional<QString>(QStringLiteral("Orbilens_A1B2C3")) << true;
    QTest::newRow("lower case") << std::optional<QString>(QStringLiteral("orbilens")) << false;
    QTest::newRow("upper case") << std::optional<QString>(QStringLiteral("ORBILENS-5G")) << false;
    QTest::newRow("one letter off") << std::optional<QString>(QStringLiteral("OrbiLens")) << false;
    QTest::newRow("leading space") << std::optional<QString>(QStringLiteral(" Orbilens")) << false;
    QTest::newRow("prefix before") << std::optional<QString>(QStringLiteral("MyOrbilens")) << false;
    QTest::newRow("too short") << std::optional<QString>(QStringLiteral("Orbilen")) << false;
    QTest::newRow("empty name") << std::optional<QString>(QString()) << false;
    QTest::newRow("no name") << std::optional<QString>() << false;
}

void tst_Tool::networkNameRule()
{
    QFETCH(std::optional<QString>, ssid);
    QFETCH(bool, onTheBox);
    platform::FixedWifiName wifi(ssid);
    QCOMPARE(Tool::getTelescopeConnectionStatus(wifi), onTheBox);
}

void tst_Tool::getSSIDIsTheJoinedNetwork()
{
    platform::FixedWifiName wifi(QStringLiteral("HomeNet"));
    QCOMPARE(Tool::getSSID(wifi), std::optional<QString>(QStringLiteral("HomeNet")));
    wifi.setName(std::nullopt);
    QCOMPARE(Tool::getSSID(wifi), std::nullopt);
}

void tst_Tool::tipsAlertIsTipsWithOneOK()
{
    RecordingAlerts alerts;
    QList<int> responses;
    Tool::tipsAlertWithTips(alerts, QStringLiteral("Some text"),
                            [&responses](int response) { responses << response; });
    // Returns before the user has answered.
    QVERIFY(responses.isEmpty());
    QCOMPARE(alerts.shown().size(), 1);
    const platform::AlertContent &content = alerts.shown().first().content;
    QCOMPARE(content.messageText, QStringLiteral("Tips"));
    QCOMPARE(content.informativeText, QStringLiteral("Some text"));
    QCOMPARE(content.buttonTitles, QStringList{QStringLiteral("OK")});

    QVERIFY(alerts.answer());
    QCOMPARE(responses, QList<int>{1000});
}

void tst_Tool::emptyHandlerIsANoOp()
{
    RecordingAlerts alerts;
    Tool::tipsAlertWithTips(alerts, QStringLiteral("x"), {});
    QVERIFY(alerts.shown().first().completion); // replaced, so ending it is safe
    QVERIFY(alerts.answer());
}

QTEST_GUILESS_MAIN(tst_Tool)
#include "tst_Tool.moc"
