// The camera settings and focus shortcuts, worked through the real window as
// a user would, with every command checked on the wire of a loopback box.

#include "app/MainWindow.h"
#include "control/RequestManager.h"
#include "platform/CameraAddress.h"
#include "platform/Controls.h"
#include "stream/CameraBuffer.h"
#include "support/LogCapture.h"
#include "support/LoopbackServer.h"
#include "support/ViewerFakes.h"
#include "ui_MainWindow.h"
#include "viewer/ViewController.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHash>
#include <QKeyEvent>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWheelEvent>

namespace
{

// The request targets the box expects, character for character.
QByteArray control(const char *id, const QByteArray &value)
{
    return QByteArray("/?action=commanddest=0plugin=0&id=") + id + "&group=1&value=" + value;
}
QByteArray focusAutoOff()
{
    return control("10094860", "0");
}
QByteArray focus(const QByteArray &value)
{
    return control("10094858", value);
}
QByteArray whiteBalanceAuto(const QByteArray &value)
{
    return control("9963788", value);
}
QByteArray whiteBalanceTemperature(int kelvin)
{
    return control("9963802", QByteArray::number(kelvin));
}
QByteArray exposureAuto(const QByteArray &value)
{
    return control("10094849", value);
}
QByteArray exposureAbsolute(int value)
{
    return control("10094850", QByteArray::number(value));
}
QByteArray resolution(int tag)
{
    return "/?action=command&dest=0plugin=0&id=0&group=2&value=" + QByteArray::number(tag);
}

// A box on loopback that answers every command with success and keeps the
// stream request open and silent. The connection-per-command answers mean
// the order in which connections were accepted is the order of issue.
class Box
{
public:
    Box()
        : m_server([this](QTcpSocket *socket, const QByteArray &line) {
              if (line.contains("action=stream"))
                  return;
              m_targetOf.insert(socket, line.split(' ').value(1));
              const QByteArray body = R"({"result":"0"})";
              socket->write(
                  "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
              socket->disconnectFromHost();
          })
    {
    }

    QString baseUrl() const { return m_server.baseUrl(); }

    // Every command's request target, in the order issued.
    QList<QByteArray> commands() const
    {
        QList<QByteArray> targets;
        for (const auto &socket : m_server.sockets())
            if (m_targetOf.contains(socket.data()))
                targets.append(m_targetOf.value(socket.data()));
        return targets;
    }

private:
    QHash<QTcpSocket *, QByteArray> m_targetOf;
    LoopbackServer m_server;
};

QPoint handleCentre(QSlider *slider)
{
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.subControls = QStyle::SC_All;
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->sliderPosition();
    option.sliderValue = slider->value();
    option.singleStep = slider->singleStep();
    option.pageStep = slider->pageStep();
    option.tickPosition = slider->tickPosition();
    option.upsideDown =
        slider->orientation() == Qt::Horizontal
            ? slider->invertedAppearance() != (slider->layoutDirection() == Qt::RightToLeft)
            : !slider->invertedAppearance();
    return slider->style()
        ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
        .center();
}

// Drags the handle to the right through several positions, as a hand would.
void dragHandle(QSlider *slider, int distance)
{
    const QPoint from = handleCentre(slider);
    QTest::mousePress(slider, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 4; ++step)
        QTest::mouseMove(slider, from + QPoint(distance * step / 4, 0));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, from + QPoint(distance, 0));
}

// Chooses the item with tag in the pop-up's list, the way a click does.
void chooseItem(QComboBox *popUp, int tag)
{
    const int row = popUp->findData(tag);
    QVERIFY(row >= 0);
    popUp->showPopup();
    QAbstractItemView *list = popUp->view();
    QTRY_VERIFY(list->isVisible());
    const QPoint at = list->visualRect(list->model()->index(row, 0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTRY_VERIFY(!list->isVisible());
}

} // namespace

class tst_ViewControllerControls : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void buttonsSwitchAutoAndManual_data();
    void buttonsSwitchAutoAndManual();
    void sliderGestures_data();
    void sliderGestures();
    void resolutionChoice();
    void focusButtonsHalvesInterleave_data();
    void focusButtonsHalvesInterleave();
    void arrowKeysStepFocus();
    void heldArrowKeyRepeatsTheStep();
    void otherKeysReachingKeyDown();
    void arrowKeysLeaveAClickedSliderAlone();
    void unreachableBoxStillUpdatesControls();

private:
    std::unique_ptr<MainWindow> makeWindow();

    std::unique_ptr<Box> m_box;
    std::unique_ptr<ViewerFakes> m_fakes;
};

void tst_ViewControllerControls::init()
{
    m_box = std::make_unique<Box>();
    m_fakes = std::make_unique<ViewerFakes>();
    QVERIFY(CameraAddress::setBaseUrl(QUrl(m_box->baseUrl())));
}

void tst_ViewControllerControls::cleanup()
{
    // Nothing of one test may reach the next one's box.
    RequestManager::releaseSharedInstance();
    if (CameraBuffer::hasSharedInstance())
        CameraBuffer::shareInstance().stopTaskWiFiBox();
    m_box.reset();
    m_fakes.reset();
}

std::unique_ptr<MainWindow> tst_ViewControllerControls::makeWindow()
{
    auto window = std::make_unique<MainWindow>(m_fakes->services());
    window->resize(1200, 800);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    return window;
}

void tst_ViewControllerControls::buttonsSwitchAutoAndManual_data()
{
    QTest::addColumn<bool>("whiteBalance");
    QTest::addColumn<QByteArray>("manualCommand");
    QTest::addColumn<QByteArray>("autoCommand");
    QTest::newRow("white balance") << true << whiteBalanceAuto("0") << whiteBalanceAuto("1");
    QTest::newRow("exposure") << false << exposureAuto("1") << exposureAuto("3");
}

void tst_ViewControllerControls::buttonsSwitchAutoAndManual()
{
    QFETCH(bool, whiteBalance);
    QFETCH(QByteArray, manualCommand);
    QFETCH(QByteArray, autoCommand);
    auto window = makeWindow();
    QVERIFY(window);
    Ui::MainWindow &form = window->form();
    QPushButton *button = whiteBalance ? form.whiteBalanceBtn : form.exposureBtn;
    QSlider *slider = whiteBalance ? form.whiteBalanceSlider : form.exposureSlider;
    QVERIFY(!button->isChecked());

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(button->isChecked());
    QCOMPARE(button->text(), QStringLiteral("Manual"));
    QTRY_COMPARE(m_box->commands(), QList<QByteArray>{manualCommand});

    // Entering manual mode sends no value; the slider keeps its place.
    slider->setValue(slider->maximum() - slider->pageStep());
    const int kept = slider->value();
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!button->isChecked());
    QCOMPARE(button->text(), QStringLiteral("Auto"));
    // Back to automatic: the slider rests at its minimum, which is not sent.
    QVERIFY(kept != slider->minimum());
    QCOMPARE(slider->value(), slider->minimum());
    QTRY_COMPARE(m_box->commands(), (QList<QByteArray>{manualCommand, autoCommand}));
    QTest::qWait(200);
    QCOMPARE(m_box->commands().size(), 2);
}

void tst_ViewControllerControls::sliderGestures_data()
{
    QTest::addColumn<bool>("whiteBalance");
    QTest::newRow("white balance") << true;
    QTest::newRow("exposure") << false;
}

void tst_ViewControllerControls::sliderGestures()
{
    QFETCH(bool, whiteBalance);
    auto window = makeWindow();
    QVERIFY(window);
    Ui::MainWindow &form = window->form();
    QPushButton *button = whiteBalance ? form.whiteBalanceBtn : form.exposureBtn;
    QSlider *slider = whiteBalance ? form.whiteBalanceSlider : form.exposureSlider;
    const auto autoOff = whiteBalance ? whiteBalanceAuto("0") : exposureAuto("1");
    const auto value = [whiteBalance](int v) {
        return whiteBalance ? whiteBalanceTemperature(v) : exposureAbsolute(v);
    };
    LogCapture log;

    // A drag in automatic mode: one pair for the whole drag, with the value
    // where the handle was let go, and the button ends on "Manual".
    QCOMPARE(button->text(), QStringLiteral("Auto"));
    dragHandle(slider, slider->width() / 3);
    const int dragged = slider->value();
    QVERIFY(dragged > slider->minimum());
    QTRY_COMPARE(m_box->commands(), (QList<QByteArray>{autoOff, value(dragged)}));
    QVERIFY(button->isChecked());
    QCOMPARE(button->text(), QStringLiteral("Manual"));
    QCOMPARE(log.count(QString::number(dragged)), 1);

    // Steps from the keyboard and the groove in manual mode: each is a
    // gesture of its own and repeats the automatic-off command.
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_PageUp);
    const int paged = slider->value();
    QCOMPARE(paged, dragged + slider->pageStep());
    QTest::keyClick(slider, Qt::Key_Home);
    QCOMPARE(slider->value(), slider->minimum());
    const QPointF over = handleCentre(slider);
    QWheelEvent wheel(over, slider->mapToGlobal(over), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(slider, &wheel);
    const int wheeled = slider->value();
    QVERIFY(wheeled > slider->minimum());
    QTRY_COMPARE(m_box->commands(),
                 (QList<QByteArray>{autoOff, value(dragged), autoOff, value(paged), autoOff,
                                    value(slider->minimum()), autoOff, value(wheeled)}));
    QCOMPARE(log.count(QString::number(paged)), 1);

    // Values set from code are no gesture.
    slider->setValue(slider->maximum());
    slider->setValue(slider->minimum() + slider->singleStep());
    QTest::qWait(200);
    QCOMPARE(m_box->commands().size(), 8);
}

void tst_ViewControllerControls::resolutionChoice()
{
    auto window = makeWindow();
    QVERIFY(window);
    QComboBox *popUp = window->form().resolutionPopBtn;
    LogCapture log;

    chooseItem(popUp, 5);
    QTRY_COMPARE(m_box->commands(), QList<QByteArray>{resolution(5)});
    QCOMPARE(log.count(QStringLiteral("1920 × 1080---tag:5")), 1);

    // The item already shown, chosen again, asks again.
    chooseItem(popUp, 5);
    chooseItem(popUp, 11);
    QTRY_COMPARE(m_box->commands(),
                 (QList<QByteArray>{resolution(5), resolution(5), resolution(11)}));
    QCOMPARE(log.count(QStringLiteral("640 × 360---tag:11")), 1);

    // The frame handler moving the pop-up is not the user's choice.
    window->controller().cameraBufferImage(QImage(1280, 720, QImage::Format_RGB32));
    QCOMPARE(platform::controls::selectedTag(popUp), 8);
    QTest::qWait(200);
    QCOMPARE(m_box->commands().size(), 3);
}

void tst_ViewControllerControls::focusButtonsHalvesInterleave_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QByteArrayList>("values");
    QTest::newRow("left, right") << "leftBtn"
                                 << "rightBtn" << QByteArrayList{"15", "85", "10", "80"};
    QTest::newRow("left, left") << "leftBtn"
                                << "leftBtn" << QByteArrayList{"15", "15", "10", "10"};
    QTest::newRow("right, left") << "rightBtn"
                                 << "leftBtn" << QByteArrayList{"85", "15", "80", "10"};
}

void tst_ViewControllerControls::focusButtonsHalvesInterleave()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QByteArrayList, values);
    auto window = makeWindow();
    QVERIFY(window);
    // Two clicks with no event processed between them: well inside 0.1 s,
    // so both first halves go out before either second half.
    QTest::mouseClick(window->findChild<QPushButton *>(first), Qt::LeftButton);
    QTest::mouseClick(window->findChild<QPushButton *>(second), Qt::LeftButton);
    QList<QByteArray> expected;
    for (const QByteArray &v : values)
        expected << focusAutoOff() << focus(v);
    QTRY_COMPARE(m_box->commands(), expected);
    QTest::qWait(300);
    QCOMPARE(m_box->commands().size(), 8);
}

void tst_ViewControllerControls::arrowKeysStepFocus()
{
    auto window = makeWindow();
    QVERIFY(window);
    window->controller().viewDidLoad(); // installs the key monitor
    QWindow *handle = window->windowHandle();

    QTest::keyClick(handle, Qt::Key_Left);
    QTRY_COMPARE(m_box->commands(), (QList<QByteArray>{focusAutoOff(), focus("20"), focus("10")}));
    QTest::keyClick(handle, Qt::Key_Right);
    QTRY_COMPARE(m_box->commands(), (QList<QByteArray>{focusAutoOff(), focus("20"), focus("10"),
                                                       focusAutoOff(), focus("90"), focus("80")}));
    // Other keys never reach the key handler through the monitor.
    QTest::keyClick(handle, Qt::Key_Up);
    QTest::keyClick(handle, Qt::Key_A);
    QTest::keyClick(handle, Qt::Key_Space);
    QTest::qWait(200);
    QCOMPARE(m_box->commands().size(), 6);
}

void tst_ViewControllerControls::heldArrowKeyRepeatsTheStep()
{
    auto window = makeWindow();
    QVERIFY(window);
    window->controller().viewDidLoad();
    QWindow *handle = window->windowHandle();

    // A held key: one fresh press, then presses marked as repeats.
    QTest::simulateEvent(handle, true, Qt::Key_Right, {}, {}, false);
    QTest::simulateEvent(handle, true, Qt::Key_Right, {}, {}, true);
    QTest::simulateEvent(handle, true, Qt::Key_Right, {}, {}, true);
    QTest::simulateEvent(handle, false, Qt::Key_Right, {}, {}, false);
    QList<QByteArray> expected;
    for (int press = 0; press < 3; ++press)
        expected << focusAutoOff() << focus("90") << focus("80");
    QTRY_COMPARE(m_box->commands(), expected);
    QTest::qWait(200);
    QCOMPARE(m_box->commands().size(), 9);
}

void tst_ViewControllerControls::otherKeysReachingKeyDown()
{
    auto window = makeWindow();
    QVERIFY(window);
    const QKeyEvent key(QEvent::KeyPress, Qt::Key_F, Qt::NoModifier, QStringLiteral("f"));
    window->controller().keyDown(key);
    QTRY_COMPARE(m_box->commands(), QList<QByteArray>{focusAutoOff()});
    QTest::qWait(200);
    QCOMPARE(m_box->commands().size(), 1);
}

void tst_ViewControllerControls::arrowKeysLeaveAClickedSliderAlone()
{
    // After a drag the arrow keys still mean focus: the slider did not take
    // the keyboard, so the key moves neither it nor the white balance.
    auto window = makeWindow();
    QVERIFY(window);
    window->controller().viewDidLoad();
    QSlider *slider = window->form().whiteBalanceSlider;
    dragHandle(slider, slider->width() / 4);
    const int dragged = slider->value();
    QTRY_COMPARE(m_box->commands().size(), 2);

    QTest::keyClick(window->windowHandle(), Qt::Key_Right);
    QTRY_COMPARE(m_box->commands().size(), 5);
    QCOMPARE(m_box->commands().mid(2),
             (QList<QByteArray>{focusAutoOff(), focus("90"), focus("80")}));
    QCOMPARE(slider->value(), dragged);
}

void tst_ViewControllerControls::unreachableBoxStillUpdatesControls()
{
    // Point at a port nobody listens on: every command fails, unseen.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    QVERIFY(CameraAddress::setBaseUrl(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closedPort))));
    auto window = makeWindow();
    QVERIFY(window);
    Ui::MainWindow &form = window->form();

    QTest::mouseClick(form.exposureBtn, Qt::LeftButton);
    QCOMPARE(form.exposureBtn->text(), QStringLiteral("Manual"));
    dragHandle(form.whiteBalanceSlider, form.whiteBalanceSlider->width() / 3);
    QTRY_VERIFY(form.whiteBalanceBtn->isChecked());
    QCOMPARE(form.whiteBalanceBtn->text(), QStringLiteral("Manual"));
    QTest::mouseClick(form.leftBtn, Qt::LeftButton);
    QTest::qWait(300); // the failed answers come back and change nothing
    QCOMPARE(form.exposureBtn->text(), QStringLiteral("Manual"));
    QVERIFY(form.exposureBtn->isChecked());
    QCOMPARE(form.whiteBalanceBtn->text(), QStringLiteral("Manual"));
    QVERIFY(m_fakes->alerts.shown().isEmpty());
}

QTEST_MAIN(tst_ViewControllerControls)
#include "tst_ViewControllerControls.moc"
