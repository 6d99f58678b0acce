// The frame handler and frame-rate label, through the real window.

#include "app/MainWindow.h"
#include "platform/CameraAddress.h"
#include "platform/Controls.h"
#include "stream/CameraBuffer.h"
#include "support/LogCapture.h"
#include "support/LoopbackServer.h"
#include "support/TestImages.h"
#include "support/ViewerFakes.h"
#include "ui_MainWindow.h"
#include "viewer/ViewController.h"

#include <QTest>

class tst_ViewController : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void startsInPhotoModeWithNothingPending();
    void firstFrameSetsSizeLogsAndSelects();
    void sizesMapToTheBoxsTags_data();
    void sizesMapToTheBoxsTags();
    void sameSizeTouchesNothing();
    void everyFrameIsShown();
    void frameRateLabel();
    void stoppedStreamReportsZero();
    void windowSizeIsRememberedBetweenRuns();

private:
    LoopbackServer *m_silentServer = nullptr;
};

void tst_ViewController::initTestCase()
{
    // A server that accepts the stream request and sends nothing: the
    // controller's start-up opens a real transfer, and it stays quiet.
    m_silentServer = new LoopbackServer([](QTcpSocket *, const QByteArray &) {}, this);
    QVERIFY(CameraAddress::setBaseUrl(QUrl(m_silentServer->baseUrl())));
}

void tst_ViewController::startsInPhotoModeWithNothingPending()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    window.controller().viewDidLoad();
    const ViewController &c = window.controller();
    QCOMPARE(c.cameraStyleType(), 0);
    QVERIFY(!c.isSnapshot());
    QVERIFY(!c.isVideo());
    QCOMPARE(c.photoSize(), QSizeF(0, 0));
    QCOMPARE(CameraBuffer::shareInstance().delegate(), &window.controller());
}

void tst_ViewController::firstFrameSetsSizeLogsAndSelects()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    LogCapture log;
    window.controller().cameraBufferImage(testimages::picture(1280, 720));
    QCOMPARE(window.controller().photoSize(), QSizeF(1280, 720));
    QCOMPARE(log.count(QStringLiteral("8 --- w:1280.000000 -- h:720.000000")), 1);
    QCOMPARE(platform::controls::selectedTag(window.form().resolutionPopBtn), 8);
}

void tst_ViewController::sizesMapToTheBoxsTags_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("tag");
    QTest::newRow("1280x720") << 1280 << 720 << 8;
    QTest::newRow("1280x960") << 1280 << 960 << 7;
    QTest::newRow("640x360") << 640 << 360 << 11;
    QTest::newRow("640x480") << 640 << 480 << 0;
    QTest::newRow("3840x2160") << 3840 << 2160 << 1;
    QTest::newRow("unknown 700x500") << 700 << 500 << 0;
}

void tst_ViewController::sizesMapToTheBoxsTags()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, tag);
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    // Start from another item so that the selection must move (or stay on 0).
    platform::controls::selectItemWithTag(window.form().resolutionPopBtn, 5);
    LogCapture log;
    window.controller().cameraBufferImage(testimages::picture(width, height));
    QCOMPARE(platform::controls::selectedTag(window.form().resolutionPopBtn), tag);
    QCOMPARE(window.controller().photoSize(), QSizeF(width, height));
    QCOMPARE(log.count(QString::asprintf("%d --- w:%d.000000 -- h:%d.000000", tag, width, height)),
             1);
}

void tst_ViewController::sameSizeTouchesNothing()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    window.controller().cameraBufferImage(testimages::picture(1280, 720, 1));
    // The user picks another item; frames of the old size must not undo it.
    platform::controls::selectItemWithTag(window.form().resolutionPopBtn, 5);
    LogCapture log;
    window.controller().cameraBufferImage(testimages::picture(1280, 720, 2));
    window.controller().cameraBufferImage(testimages::picture(1280, 720, 3));
    QCOMPARE(platform::controls::selectedTag(window.form().resolutionPopBtn), 5);
    QVERIFY(log.lines().filter(QStringLiteral(" --- w:")).isEmpty());

    // A real change outside a recording: one line, new item.
    window.controller().cameraBufferImage(testimages::picture(640, 360));
    QCOMPARE(log.lines().filter(QStringLiteral(" --- w:")).size(), 1);
    QCOMPARE(platform::controls::selectedTag(window.form().resolutionPopBtn), 11);
}

void tst_ViewController::everyFrameIsShown()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    const QImage first = testimages::picture(320, 240, 1);
    const QImage second = testimages::picture(320, 240, 2);
    window.controller().cameraBufferImage(first);
    QCOMPARE(window.form().previewImgeView->image(), first);
    window.controller().cameraBufferImage(second);
    QCOMPARE(window.form().previewImgeView->image(), second);
}

void tst_ViewController::frameRateLabel()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    window.controller().cameraFPS(17);
    QCOMPARE(window.form().fpsLab->text(), QStringLiteral("FPS:17"));
    window.controller().cameraFPS(0);
    QCOMPARE(window.form().fpsLab->text(), QStringLiteral("FPS:0"));
}

void tst_ViewController::stoppedStreamReportsZero()
{
    ViewerFakes fakes;
    MainWindow window(fakes.services());
    window.controller().viewDidLoad();
    window.form().fpsLab->setText(QStringLiteral("unset"));
    CameraBuffer::shareInstance().stopTaskWiFiBox();
    // The stream client's one-second timer keeps reporting while stopped.
    QTRY_COMPARE_WITH_TIMEOUT(window.form().fpsLab->text(), QStringLiteral("FPS:0"), 5000);
}

void tst_ViewController::windowSizeIsRememberedBetweenRuns()
{
    ViewerFakes fakes;
    {
        MainWindow window(fakes.services());
        window.show();
        window.resize(1111, 666);
        QTRY_COMPARE(window.size(), QSize(1111, 666));
        window.close();
    }
    QVERIFY(fakes.settings.stringForKey(QStringLiteral("window/geometry")).has_value());

    MainWindow next(fakes.services());
    QCOMPARE(next.size(), QSize(1111, 666));
}

QTEST_MAIN(tst_ViewController)
#include "tst_ViewController.moc"
