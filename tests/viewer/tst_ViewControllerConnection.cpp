// The connection state: the network check, the status button and the end of
// the stream, through the real window against a loopback stream server.

#include "app/MainWindow.h"
#include "platform/CameraAddress.h"
#include "platform/ImageAssets.h"
#include "stream/CameraBuffer.h"
#include "support/LogCapture.h"
#include "support/LoopbackServer.h"
#include "support/ViewerFakes.h"
#include "ui_MainWindow.h"
#include "viewer/ViewController.h"

#include <QTest>

namespace
{
const QString kPromptHomeNet =
    QStringLiteral("Currently connect to WiFi: HomeNet.\nPlease connect to WiFi: Orbilens.");
const QString kDisconnected = QStringLiteral("Disconnected. Please reconnect.");

QImage disconnectPicture()
{
    return platform::assets::image(QStringLiteral("Disconnect"), QSize(640, 360));
}
} // namespace

class tst_ViewControllerConnection : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void startUpOnTheBoxNetworkIsQuiet();
    void startUpOnAnotherNetworkPromptsAndKeepsStreaming();
    void startUpWithNoNetworkStillPrompts();
    void clickOnOnAnotherNetworkStopsAndPrompts();
    void stopOnTheBoxNetworkEndsDisconnected();
    void switchingOnLeavesDisconnectedAtOnce();
    void restartWhileATransferRunsStaysStreaming();
    void serverClosingTheStreamDisconnects();
    void repeatedEndReportOnlyRepeatsTheState();
    void selectPositionOutsideARecordingDoesNothing();
    void timeoutStopPerformsTheCaptureAction();

private:
    // Accepts the stream request and sends nothing: the transfer stays open.
    std::unique_ptr<LoopbackServer> m_server;
};

void tst_ViewControllerConnection::init()
{
    m_server = std::make_unique<LoopbackServer>([](QTcpSocket *, const QByteArray &) {});
    QVERIFY(CameraAddress::setBaseUrl(QUrl(m_server->baseUrl())));
}

void tst_ViewControllerConnection::cleanup()
{
    // No transfer of this test may report its end into the next one.
    if (CameraBuffer::hasSharedInstance()) {
        CameraBuffer::shareInstance().setDelegate(nullptr);
        CameraBuffer::shareInstance().stopTaskWiFiBox();
    }
    QCoreApplication::processEvents();
    m_server.reset();
}

void tst_ViewControllerConnection::startUpOnTheBoxNetworkIsQuiet()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    window.controller().viewDidLoad();
    QVERIFY(fakes.alerts.shown().isEmpty());
    QVERIFY(window.form().statusBtn->isChecked());
    QVERIFY(CameraBuffer::shareInstance().isStreaming());
    QVERIFY(!window.controller().isDisconnect());
}

void tst_ViewControllerConnection::startUpOnAnotherNetworkPromptsAndKeepsStreaming()
{
    ViewerFakes fakes;
    fakes.wifiName.setName(QStringLiteral("HomeNet"));
    MainWindow window(fakes.services());
    window.controller().viewDidLoad();

    QCOMPARE(fakes.alerts.informativeTexts(), QStringList{kPromptHomeNet});
    QCOMPARE(fakes.alerts.shown().first().content.messageText, QStringLiteral("Tips"));
    QVERIFY(!window.form().statusBtn->isChecked());
    // The check does not stop the stream started just before it.
    QVERIFY(CameraBuffer::shareInstance().isStreaming());
    QTRY_COMPARE(m_server->requestLines().size(), 1);
    QVERIFY(m_server->requestLines().first().contains("/?action=stream"));
}

void tst_ViewControllerConnection::startUpWithNoNetworkStillPrompts()
{
    ViewerFakes fakes;
    fakes.wifiName.setName(std::nullopt);
    MainWindow window(fakes.services());
    window.controller().viewDidLoad();
    QCOMPARE(fakes.alerts.informativeTexts(),
             QStringList{QStringLiteral(
                 "Currently connect to WiFi: (none).\nPlease connect to WiFi: Orbilens.")});
    QVERIFY(!window.form().statusBtn->isChecked());
}

void tst_ViewControllerConnection::clickOnOnAnotherNetworkStopsAndPrompts()
{
    ViewerFakes fakes;
    fakes.wifiName.setName(QStringLiteral("HomeNet"));
    MainWindow window(fakes.services());
    window.controller().viewDidLoad();
    QTRY_COMPARE(m_server->requestLines().size(), 1);
    QPushButton *status = window.form().statusBtn;
    QVERIFY(!status->isChecked());

    LogCapture log;
    status->click(); // the user turns it on
    QVERIFY(!status->isChecked());
    QCOMPARE(fakes.alerts.informativeTexts(), (QStringList{kPromptHomeNet, kPromptHomeNet}));
    QCOMPARE(log.count(QStringLiteral("On")), 1);
    QCOMPARE(log.count(QStringLiteral("Off")), 0);
    // Stopped, not restarted: no transfer runs, and none is asked for.
    QVERIFY(!CameraBuffer::shareInstance().isStreaming());
    QTRY_VERIFY(window.controller().isDisconnect());
    QCOMPARE(m_server->requestLines().size(), 1);
}

void tst_ViewControllerConnection::stopOnTheBoxNetworkEndsDisconnected()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    window.controller().viewDidLoad();
    QTRY_COMPARE(m_server->requestLines().size(), 1);
    QPushButton *status = window.form().statusBtn;
    QVERIFY(status->isChecked());

    LogCapture log;
    status->click(); // the user turns it off
    QCOMPARE(log.count(QStringLiteral("On")), 1);
    QVERIFY(!CameraBuffer::shareInstance().isStreaming());
    // Stopped: the flag waits for the end report.
    QVERIFY(!window.controller().isDisconnect());

    QTRY_VERIFY(window.controller().isDisconnect());
    QCOMPARE(log.count(QStringLiteral("中断")), 1);
    QCOMPARE(window.form().previewImgeView->image(), disconnectPicture());
    QVERIFY(!status->isChecked());
    QVERIFY(fakes.alerts.shown().isEmpty());
    QVERIFY(window.form().tipsLab->isHidden()); // no notice outside a recording

    // The capture button now refuses, with the alert.
    window.form().photoBtn->click();
    QCOMPARE(fakes.alerts.informativeTexts(), QStringList{kDisconnected});
    QCOMPARE(fakes.alerts.shown().first().content.buttonTitles, QStringList{QStringLiteral("OK")});
}

void tst_ViewControllerConnection::switchingOnLeavesDisconnectedAtOnce()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    window.controller().viewDidLoad();
    QTRY_COMPARE(m_server->requestLines().size(), 1);
    QPushButton *status = window.form().statusBtn;
    status->click();
    QTRY_VERIFY(window.controller().isDisconnect());

    LogCapture log;
    status->click(); // back on
    QVERIFY(status->isChecked());
    QCOMPARE(log.count(QStringLiteral("Off")), 1);
    // Before any frame: the capture button acts at once.
    QVERIFY(!window.controller().isDisconnect());
    QVERIFY(CameraBuffer::shareInstance().isStreaming());
    window.form().photoBtn->click();
    QVERIFY(fakes.alerts.shown().isEmpty());
    QTRY_COMPARE(m_server->requestLines().size(), 2);
}

void tst_ViewControllerConnection::restartWhileATransferRunsStaysStreaming()
{
    // Start-up on another network: the button goes off, the transfer runs on.
    ViewerFakes fakes;
    fakes.wifiName.setName(QStringLiteral("HomeNet"));
    MainWindow window(fakes.services());
    window.controller().viewDidLoad();
    QTRY_COMPARE(m_server->requestLines().size(), 1);
    QVERIFY(CameraBuffer::shareInstance().isStreaming());

    // The user joins the box's network and switches the stream on.
    fakes.wifiName.setName(QStringLiteral("Orbilens-5G"));
    LogCapture log;
    window.form().statusBtn->click();
    QCOMPARE(log.count(QStringLiteral("Off")), 1);
    QCOMPARE(fakes.alerts.shown().size(), 1); // only the start-up prompt

    // The replaced transfer's end comes after the restart, and is only logged.
    QTRY_COMPARE(log.count(QStringLiteral("中断")), 1);
    QTRY_COMPARE(m_server->requestLines().size(), 2);
    QVERIFY(!window.controller().isDisconnect());
    QVERIFY(window.form().statusBtn->isChecked());
    QVERIFY(CameraBuffer::shareInstance().isStreaming());
    QVERIFY(window.form().previewImgeView->image().isNull());
}

void tst_ViewControllerConnection::serverClosingTheStreamDisconnects()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    window.controller().viewDidLoad();
    QTRY_COMPARE(m_server->requestLines().size(), 1);
    QTRY_COMPARE(m_server->sockets().size(), 1);

    LogCapture log;
    m_server->closeAll();
    QTRY_VERIFY(window.controller().isDisconnect());
    QCOMPARE(log.count(QStringLiteral("中断")), 1);
    QVERIFY(!window.form().statusBtn->isChecked());
    QCOMPARE(window.form().previewImgeView->image(), disconnectPicture());
    QVERIFY(fakes.alerts.shown().isEmpty());
}

void tst_ViewControllerConnection::repeatedEndReportOnlyRepeatsTheState()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    ViewController &c = window.controller();
    c.disconnection();
    QVERIFY(c.isDisconnect());
    // A frame replaces the picture; a second report puts it back.
    c.cameraBufferImage(QImage(64, 48, QImage::Format_RGB32));
    window.form().statusBtn->setChecked(true);
    c.disconnection();
    QVERIFY(c.isDisconnect());
    QVERIFY(!window.form().statusBtn->isChecked());
    QCOMPARE(window.form().previewImgeView->image(), disconnectPicture());
    QVERIFY(fakes.alerts.shown().isEmpty());
}

void tst_ViewControllerConnection::selectPositionOutsideARecordingDoesNothing()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    window.controller().disconnection();
    // With no recording there is nothing to end: in particular the capture
    // action, which would answer with the disconnected alert, is not run.
    window.controller().selectPosition();
    QVERIFY(fakes.alerts.shown().isEmpty());
}

void tst_ViewControllerConnection::timeoutStopPerformsTheCaptureAction()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    window.controller().disconnection();
    window.controller().timeoutStop();
    QCOMPARE(fakes.alerts.informativeTexts(), QStringList{kDisconnected});
}

QTEST_MAIN(tst_ViewControllerConnection)
#include "tst_ViewControllerConnection.moc"
