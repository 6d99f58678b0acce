// The controller through the real window against a camera box on loopback:
// frames and the resolution pop-up, the connection state, the notice label,
// and the exact requests each control gesture puts on the wire.

#include "platform/Controls.h"
#include "support/CommandUrls.h"
#include "support/LogCapture.h"
#include "support/LoopbackServer.h"
#include "support/WindowRig.h"

#include <QGraphicsOpacityEffect>
#include <QHash>
#include <QScopeGuard>
#include <QTranslator>

using namespace commandurls;

namespace
{
const QString kDisconnected = QStringLiteral("Disconnected. Please reconnect.");

// A box whose stream request stays open and silent and whose every command is
// answered with success. The viewer opens one connection per command, so the
// order of the accepted connections is the order the commands were issued.
class Box
{
public:
    Box()
        : server([this](QTcpSocket *socket, const QByteArray &line) {
              if (line.contains("action=stream"))
                  return;
              m_lineOf.insert(socket, line);
              socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                            "Content-Length: 14\r\nConnection: close\r\n\r\n{\"result\":\"0\"}");
              socket->disconnectFromHost();
          })
    {
    }
    QList<QByteArray> commands() const
    {
        QList<QByteArray> lines;
        for (const auto &socket : server.sockets())
            if (m_lineOf.contains(socket.data()))
                lines << m_lineOf.value(socket.data());
        return lines;
    }
    qsizetype streams() const
    {
        return server.requestLines().count(requestLine("/?action=stream"));
    }

    LoopbackServer server;

private:
    QHash<QTcpSocket *, QByteArray> m_lineOf;
};

double opacity(QLabel *label)
{
    return qobject_cast<QGraphicsOpacityEffect *>(label->graphicsEffect())->opacity();
}
} // namespace

class tst_ViewController : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void framesMoveThePopUp_data();
    void framesMoveThePopUp();
    void connection_data();
    void connection();
    void textsGoThroughTheTranslator();
    void noticeFadesAndComesBack();
    void gestureSendsExactly_data();
    void gestureSendsExactly();
};

void tst_ViewController::framesMoveThePopUp_data()
{
    QTest::addColumn<QList<QSize>>("frames"); // an invalid size: the user picks 1920 x 1080
    QTest::addColumn<int>("tag");
    QTest::addColumn<QStringList>("sizeLines");
    const QString hd = QStringLiteral("8 --- w:1280.000000 -- h:720.000000");
    const QSize pick;
    QTest::newRow("a new size selects its item")
        << QList<QSize>{{1280, 720}} << 8 << QStringList{hd};
    QTest::newRow("a size the box does not list: 0")
        << QList<QSize>{{700, 500}} << 0 << QStringList{"0 --- w:700.000000 -- h:500.000000"};
    QTest::newRow("the same size leaves the user's pick")
        << QList<QSize>{{1280, 720}, pick, {1280, 720}, {1280, 720}} << 5 << QStringList{hd};
    QTest::newRow("a new size after the user's pick")
        << QList<QSize>{{1280, 720}, pick, {640, 360}} << 11
        << QStringList{hd, "11 --- w:640.000000 -- h:360.000000"};
}

void tst_ViewController::framesMoveThePopUp()
{
    QFETCH(QList<QSize>, frames);
    QFETCH(int, tag);
    QFETCH(QStringList, sizeLines);
    Box box;
    WindowRig rig;
    QVERIFY(rig.open(box.server.baseUrl()));
    LogCapture log;
    for (int i = 0; i < frames.size(); ++i)
        if (!frames[i].isValid())
            platform::controls::selectItemWithTag(rig.form().resolutionPopBtn, 5);
        else
            rig.frame(frames[i], i);
    QCOMPARE(rig.c().photoSize(), QSizeF(frames.last()));
    QCOMPARE(platform::controls::selectedTag(rig.form().resolutionPopBtn), tag);
    QCOMPARE(log.lines().filter(QStringLiteral(" --- w:")), sizeLines);
}

void tst_ViewController::connection_data()
{
    QTest::addColumn<QString>("network"); // "(none)": no network joined
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("state");      // "on"; "off": the stream runs on; "lost"
    QTest::addColumn<int>("ends");           // end reports logged
    QTest::addColumn<int>("streams");        // stream requests the box received
    QTest::addColumn<QStringList>("alerts"); // after a press of the capture button
    const auto away = [](const char *name) {
        return QStringLiteral("Currently connect to WiFi: %1.\nPlease connect to WiFi: Orbilens.")
            .arg(QLatin1String(name));
    };
    const auto row = [](const char *name, const char *network, const char *steps, const char *state,
                        int ends, int streams, const QStringList &alerts) {
        QTest::newRow(name) << QString(network) << QString(steps) << QString(state) << ends
                            << streams << alerts;
    };
    row("on the box's network", "Orbilens-5G", "", "on", 0, 1, {});
    row("on another network: the stream runs on", "HomeNet", "", "off", 0, 1, {away("HomeNet")});
    row("the name is case-sensitive", "orbilens-5G", "", "off", 0, 1, {away("orbilens-5G")});
    row("no network", "(none)", "", "off", 0, 1, {away("(none)")});
    row("no box", "Orbilens", "nobox", "lost", 1, 0, {kDisconnected});
    row("stream lost", "Orbilens", "lose", "lost", 1, 1, {kDisconnected});
    row("status off", "Orbilens", "status", "lost", 1, 1, {kDisconnected});
    row("status off, on: captures at once", "Orbilens", "status ended status", "on", 1, 2, {});
    row("on while away from the box: stopped", "HomeNet", "status", "lost", 1, 1,
        {away("HomeNet"), away("HomeNet"), kDisconnected});
    row("restart over a running stream: its late end is no loss", "HomeNet", "join status", "on", 1,
        2, {away("HomeNet")});
}

void tst_ViewController::connection()
{
    QFETCH(QString, network);
    QFETCH(QString, steps);
    QFETCH(QString, state);
    QFETCH(int, ends);
    QFETCH(int, streams);
    QFETCH(QStringList, alerts);
    Box box;
    WindowRig rig;
    rig.fakes.wifiName.setName(network == QLatin1String("(none)") ? std::nullopt
                                                                  : std::optional(network));
    LogCapture log;
    const quint16 port =
        steps == QLatin1String("nobox") ? LoopbackServer::closedPort() : box.server.port();
    QVERIFY(rig.open(QStringLiteral("http://127.0.0.1:%1").arg(port)));
    QTRY_COMPARE(box.streams(), qMin(streams, 1));
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        if (step == QLatin1String("lose"))
            box.server.closeAll();
        else if (step == QLatin1String("status"))
            QTest::mouseClick(rig.form().statusBtn, Qt::LeftButton);
        else if (step == QLatin1String("ended"))
            QTRY_VERIFY(rig.c().isDisconnect());
        else if (step == QLatin1String("join"))
            rig.fakes.wifiName.setName(QStringLiteral("Orbilens"));
        else if (!step.isEmpty() && step != QLatin1String("nobox"))
            QFAIL(qPrintable(step));
    }
    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("中断")), ends, 10000);
    QTRY_COMPARE(box.streams(), streams);
    QCOMPARE(rig.c().isDisconnect(), state == QLatin1String("lost"));
    QCOMPARE(rig.form().statusBtn->isChecked(), state == QLatin1String("on"));
    QCOMPARE(CameraBuffer::shareInstance().isStreaming(), state != QLatin1String("lost"));
    if (state == QLatin1String("lost")) // the "Disconnect" picture: the box sends no frames
        QCOMPARE(rig.form().previewImgeView->image().size(), QSize(640, 360));

    rig.press();
    QCOMPARE(rig.fakes.alerts.informativeTexts(), alerts);
    for (const RecordingAlerts::Shown &shown : rig.fakes.alerts.shown())
        QVERIFY(shown.content.messageText == QLatin1String("Tips") &&
                shown.content.buttonTitles == QStringList{QStringLiteral("OK")});
}

void tst_ViewController::textsGoThroughTheTranslator()
{
    // A translator that answers the viewer's texts in capitals.
    struct Capitals : QTranslator {
        QString translate(const char *context, const char *source, const char *, int) const override
        {
            return QLatin1String(context) == QLatin1String("UserTexts")
                       ? QString::fromUtf8(source).toUpper()
                       : QString();
        }
    } capitals;
    QCoreApplication::installTranslator(&capitals);
    const auto removed = qScopeGuard([&] { QCoreApplication::removeTranslator(&capitals); });
    Box box;
    WindowRig rig;
    rig.fakes.wifiName.setName(QStringLiteral("HomeNet"));
    QVERIFY(rig.open(box.server.baseUrl()));
    QTRY_COMPARE(rig.fakes.alerts.shown().size(), 1);
    const platform::AlertContent &shown = rig.fakes.alerts.shown()[0].content;
    QCOMPARE(shown.messageText, QStringLiteral("TIPS"));
    QCOMPARE(
        shown.informativeText,
        QStringLiteral("CURRENTLY CONNECT TO WIFI: HomeNet.\nPLEASE CONNECT TO WIFI: ORBILENS."));
}

void tst_ViewController::noticeFadesAndComesBack()
{
    Box box;
    WindowRig rig;
    QVERIFY(rig.open(box.server.baseUrl()));
    ViewController &c = rig.c();
    c.showTipsLabWithTipsStr(QStringLiteral("one"));
    QTRY_COMPARE(opacity(rig.form().tipsLab), 1.0);
    c.tipsLabTimer()->fire();
    QTRY_VERIFY(opacity(rig.form().tipsLab) < 1.0);
    // A notice during the fade comes back to full for a new full period.
    const platform::ScheduledTimer *fading = c.tipsLabTimer();
    c.showTipsLabWithTipsStr(QStringLiteral("two"));
    QCOMPARE(rig.notice(), QStringLiteral("two"));
    QVERIFY(c.tipsLabTimer() != fading && c.tipsLabTimer()->isValid());
    QTest::qWait(int(ViewController::kNoticeFadeOut.count()) + 200);
    QCOMPARE(opacity(rig.form().tipsLab), 1.0);
    c.tipsLabTimer()->fire();
    QTRY_COMPARE(opacity(rig.form().tipsLab), 0.0);
}

void tst_ViewController::gestureSendsExactly_data()
{
    QTest::addColumn<QString>("gestures");       // object names of controls, or keys
    QTest::addColumn<QByteArrayList>("targets"); // "$v": the slider's value
    const auto row = [](const char *name, const char *gestures, const QByteArrayList &targets) {
        QTest::newRow(name) << QString(gestures) << targets;
    };
    const QByteArray focusOff = control(kFocusAuto, "0");
    const auto focus = [](const QByteArray &v) { return control(kFocusAbsolute, v); };
    row("white balance manual, auto", "whiteBalanceBtn whiteBalanceBtn",
        {control(kWhiteBalanceAuto, "0"), control(kWhiteBalanceAuto, "1")});
    row("exposure manual, auto", "exposureBtn exposureBtn",
        {control(kExposureAuto, "1"), control(kExposureAuto, "3")});
    row("white balance slider", "whiteBalanceSlider",
        {control(kWhiteBalanceAuto, "0"), control(kWhiteBalanceTemperature, "$v")});
    row("exposure slider", "exposureSlider",
        {control(kExposureAuto, "1"), control(kExposureAbsolute, "$v")});
    row("resolution", "resolutionPopBtn", {resolution(5)});
    row("arrow keys; other keys send nothing", "Left Right Up",
        {focusOff, focus("20"), focus("10"), focusOff, focus("90"), focus("80")});
    row("focus buttons: second halves 0.1 s later", "leftBtn rightBtn",
        {focusOff, focus("15"), focusOff, focus("85"), focusOff, focus("10"), focusOff,
         focus("80")});
}

void tst_ViewController::gestureSendsExactly()
{
    QFETCH(QString, gestures);
    QFETCH(QByteArrayList, targets);
    Box box;
    WindowRig rig;
    QVERIFY(rig.open(box.server.baseUrl()));
    QSlider *moved = nullptr;
    for (const QString &g : gestures.split(QLatin1Char(' '))) {
        if (auto *button = rig.window->findChild<QPushButton *>(g)) {
            QTest::mouseClick(button, Qt::LeftButton);
        } else if ((moved = rig.window->findChild<QSlider *>(g))) {
            moved->setFocus();
            QTest::keyClick(moved, Qt::Key_End);
        } else if (g == QLatin1String("resolutionPopBtn")) {
            rig.chooseResolution(5);
        } else {
            QTest::keyClick(rig.window->windowHandle(), QKeySequence(g)[0].key());
        }
    }
    QList<QByteArray> lines;
    for (QByteArray target : targets)
        lines << requestLine(target.replace("$v", QByteArray::number(moved ? moved->value() : 0)));
    QTRY_COMPARE(box.commands(), lines);
    QTest::qWait(300); // and nothing after them
    QCOMPARE(box.commands(), lines);
}

QTEST_MAIN(tst_ViewController)
#include "tst_ViewController.moc"
