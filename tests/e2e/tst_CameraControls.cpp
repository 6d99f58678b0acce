// The camera settings and focus shortcuts against the camera-box simulator
// process: the box takes the commands, and the picture answers.

#include "app/MainWindow.h"
#include "control/CommandUrl.h"
#include "control/RequestManager.h"
#include "platform/CameraAddress.h"
#include "platform/Controls.h"
#include "stream/CameraBuffer.h"
#include "support/LogCapture.h"
#include "support/SimProcess.h"
#include "support/ViewerFakes.h"
#include "ui_MainWindow.h"
#include "viewer/ViewController.h"

#include <QAbstractItemView>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace
{

constexpr int kTimeoutMs = 15000;

QByteArray control(const char *id, const QByteArray &value)
{
    return QByteArray("/?action=commanddest=0plugin=0&id=") + id + "&group=1&value=" + value;
}

// The simulator, its command log, and the viewer's window on it.
class Rig
{
public:
    bool start(const QStringList &arguments = {})
    {
        if (!m_dir.isValid())
            return false;
        m_logPath = m_dir.filePath(QStringLiteral("commands.log"));
        if (!m_sim.start(QStringList{QStringLiteral("--command-log"), m_logPath,
                                     QStringLiteral("--fps"), QStringLiteral("15")} +
                         arguments))
            return false;
        if (!CameraAddress::setBaseUrl(QUrl(m_sim.baseUrl())))
            return false;
        window = std::make_unique<MainWindow>(m_fakes.services());
        window->resize(1200, 800);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return false;
        window->controller().viewDidLoad();
        return true;
    }

    ~Rig()
    {
        window.reset();
        RequestManager::releaseSharedInstance();
        if (CameraBuffer::hasSharedInstance())
            CameraBuffer::shareInstance().stopTaskWiFiBox();
    }

    // Every command URL the box has received, in the order it read them.
    QList<QByteArray> commands() const
    {
        QFile file(m_logPath);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QList<QByteArray> lines = file.readAll().split('\n');
        lines.removeAll(QByteArray());
        return lines;
    }

    // Waits until the box has read `expected` more commands than `before`,
    // and answers the new ones. Commands of one gesture are issued back to
    // back on connections of their own, so the box may read them in any
    // order; the order of issue is checked on the loopback wire of the
    // controls test. Here they are compared as a set, gesture by gesture.
    bool receivedInAnyOrder(qsizetype before, QList<QByteArray> expected)
    {
        if (!QTest::qWaitFor([&] { return commands().size() >= before + expected.size(); },
                             kTimeoutMs))
            return false;
        QTest::qWait(100); // nothing more may follow
        QList<QByteArray> got = commands().mid(before);
        std::sort(got.begin(), got.end());
        std::sort(expected.begin(), expected.end());
        if (got != expected)
            qWarning() << "box received" << got << "expected" << expected;
        return got == expected;
    }

    std::unique_ptr<MainWindow> window;

private:
    QTemporaryDir m_dir;
    QString m_logPath;
    SimProcess m_sim;
    ViewerFakes m_fakes;
};

void chooseItem(QComboBox *popUp, int tag)
{
    const int row = popUp->findData(tag);
    QVERIFY(row >= 0);
    popUp->showPopup();
    QAbstractItemView *list = popUp->view();
    QTRY_VERIFY(list->isVisible());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(row, 0)).center());
    QTRY_VERIFY(!list->isVisible());
}

double meanLuma(const QImage &image)
{
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    double sum = 0;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar *row = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            sum += row[x];
    }
    return sum / (double(grey.width()) * grey.height());
}

// Red over blue in the middle of the nebula, where the box's colour shows on
// a large area.
double redOverBlue(const QImage &image)
{
    const QPoint centre(image.width() * 68 / 100, image.height() * 38 / 100);
    double red = 0, blue = 0;
    for (int y = centre.y() - 10; y < centre.y() + 10; ++y)
        for (int x = centre.x() - 10; x < centre.x() + 10; ++x) {
            const QRgb pixel = image.pixel(x, y);
            red += qRed(pixel);
            blue += qBlue(pixel);
        }
    return red / std::max(blue, 1.0);
}

// The share of the frame, above the caption, that star light makes brighter
// than the night sky: a defocused star spreads its light over a larger disc,
// so the share grows as the focus leaves its sharpest place.
double starlitShare(const QImage &image)
{
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    const int rows = grey.height() * 4 / 5;
    qint64 lit = 0;
    for (int y = 0; y < rows; ++y) {
        const uchar *row = grey.constScanLine(y);
        lit += std::count_if(row, row + grey.width(), [](uchar v) { return v > 25; });
    }
    return double(lit) / (double(grey.width()) * rows);
}

// A frame that arrived after now: waits for the picture to be replaced twice,
// so that a frame drawn before the last command is out of the way.
QImage freshFrame(MainWindow &window)
{
    const platform::PreviewView *view = window.form().previewImgeView;
    for (int i = 0; i < 3; ++i) {
        const QImage before = view->image();
        if (!QTest::qWaitFor([&] { return view->image().cacheKey() != before.cacheKey(); },
                             kTimeoutMs))
            return {};
    }
    return view->image();
}

} // namespace

class tst_CameraControls : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void chosenResolutionChangesTheFrames();
    void exposureSliderBrightensThePicture();
    void focusKeysAndButtonsMoveTheFocus();
};

void tst_CameraControls::chosenResolutionChangesTheFrames()
{
    Rig rig;
    QVERIFY2(rig.start(), "camera-box-sim did not start");
    MainWindow &window = *rig.window;
    QComboBox *popUp = window.form().resolutionPopBtn;
    QTRY_COMPARE_WITH_TIMEOUT(window.controller().photoSize(), QSizeF(640, 480), kTimeoutMs);

    LogCapture log;
    chooseItem(popUp, 8);
    QVERIFY(rig.receivedInAnyOrder(0, {"/?action=command&dest=0plugin=0&id=0&group=2&value=8"}));
    QTRY_COMPARE_WITH_TIMEOUT(window.controller().photoSize(), QSizeF(1280, 720), kTimeoutMs);
    QCOMPARE(window.form().previewImgeView->image().size(), QSize(1280, 720));
    QCOMPARE(platform::controls::selectedTag(popUp), 8);
    QCOMPARE(log.count(QStringLiteral("8 --- w:1280.000000 -- h:720.000000")), 1);

    // The box changes size without the user (another client, a restart):
    // the pop-up follows the frames that arrive.
    RequestManager::sharedManager().getApi(CommandUrl::resolutionCommand(11), {});
    QTRY_COMPARE_WITH_TIMEOUT(window.controller().photoSize(), QSizeF(640, 360), kTimeoutMs);
    QCOMPARE(platform::controls::selectedTag(popUp), 11);
    QCOMPARE(popUp->currentText(), QStringLiteral("640 × 360"));
}

void tst_CameraControls::exposureSliderBrightensThePicture()
{
    Rig rig;
    QVERIFY2(rig.start(), "camera-box-sim did not start");
    MainWindow &window = *rig.window;
    QTRY_VERIFY_WITH_TIMEOUT(!window.form().previewImgeView->image().isNull(), kTimeoutMs);
    const double autoLuma = meanLuma(freshFrame(window));

    // A keyboard gesture on the slider: to its far end.
    QSlider *slider = window.form().exposureSlider;
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_End);
    const QByteArray longest = QByteArray::number(slider->maximum());
    QVERIFY(rig.receivedInAnyOrder(0, {control("10094849", "1"), control("10094850", longest)}));
    QCOMPARE(window.form().exposureBtn->text(), QStringLiteral("Manual"));
    const double longLuma = meanLuma(freshFrame(window));
    QVERIFY2(longLuma > autoLuma * 2,
             qPrintable(QStringLiteral("auto %1, longest %2").arg(autoLuma).arg(longLuma)));

    // Back to automatic by the button: the box's picture returns.
    QTest::mouseClick(window.form().exposureBtn, Qt::LeftButton);
    QVERIFY(rig.receivedInAnyOrder(2, {control("10094849", "3")}));
    const QImage back = freshFrame(window);
    const double backLuma = meanLuma(back);
    QVERIFY2(std::abs(backLuma - autoLuma) < autoLuma * 0.2,
             qPrintable(QStringLiteral("auto %1, back %2").arg(autoLuma).arg(backLuma)));

    // White balance: a warm setting tints the picture red.
    QSlider *temperature = window.form().whiteBalanceSlider;
    temperature->setFocus();
    QTest::keyClick(temperature, Qt::Key_End);
    QVERIFY(rig.receivedInAnyOrder(
        3,
        {control("9963788", "0"), control("9963802", QByteArray::number(temperature->maximum()))}));
    const double neutral = redOverBlue(back);
    const double warm = redOverBlue(freshFrame(window));
    QVERIFY2(warm > neutral * 1.5,
             qPrintable(QStringLiteral("red/blue auto %1, warm %2").arg(neutral).arg(warm)));
}

void tst_CameraControls::focusKeysAndButtonsMoveTheFocus()
{
    Rig rig;
    QVERIFY2(rig.start(), "camera-box-sim did not start");
    MainWindow &window = *rig.window;
    QTRY_VERIFY_WITH_TIMEOUT(!window.form().previewImgeView->image().isNull(), kTimeoutMs);
    const double autofocus = starlitShare(freshFrame(window));
    QWindow *handle = window.windowHandle();

    // Towards near, away from the sharpest place: autofocus off, and the
    // stars swell into discs.
    qsizetype received = 0;
    for (int press = 0; press < 4; ++press) {
        QTest::keyClick(handle, Qt::Key_Left);
        QVERIFY(
            rig.receivedInAnyOrder(received, {control("10094860", "0"), control("10094858", "20"),
                                              control("10094858", "10")}));
        received += 3;
    }
    const double near = starlitShare(freshFrame(window));
    QVERIFY2(near > autofocus * 2,
             qPrintable(QStringLiteral("autofocus %1, near %2").arg(autofocus).arg(near)));

    // Back towards far with a held key, then the far button: smaller again.
    QTest::simulateEvent(handle, true, Qt::Key_Right, {}, {}, false);
    for (int repeat = 0; repeat < 5; ++repeat)
        QTest::simulateEvent(handle, true, Qt::Key_Right, {}, {}, true);
    QTest::simulateEvent(handle, false, Qt::Key_Right, {}, {}, false);
    QList<QByteArray> held;
    for (int press = 0; press < 6; ++press)
        held << control("10094860", "0") << control("10094858", "90") << control("10094858", "80");
    QVERIFY(rig.receivedInAnyOrder(received, held));
    received += held.size();
    QTest::mouseClick(window.form().rightBtn, Qt::LeftButton);
    QVERIFY(
        rig.receivedInAnyOrder(received, {control("10094860", "0"), control("10094858", "85"),
                                          control("10094860", "0"), control("10094858", "80")}));
    const double far = starlitShare(freshFrame(window));
    QVERIFY2(far < near * 0.75, qPrintable(QStringLiteral("near %1, far %2").arg(near).arg(far)));
}

QTEST_MAIN(tst_CameraControls)
#include "tst_CameraControls.moc"
