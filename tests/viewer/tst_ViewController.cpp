// The controller through the real window against a camera box on loopback:
// frames and the resolution pop-up, the connection state, the notice label,
// and the exact requests each control gesture puts on the wire.

#include "app/AppStyle.h"
#include "platform/Controls.h"
#include "platform/DialogFolderChooser.h"
#include "platform/MessageBoxAlerts.h"
#include "support/CommandUrls.h"
#include "support/LogCapture.h"
#include "support/LoopbackServer.h"
#include "support/StreamParts.h"
#include "support/WindowRig.h"

#include "stream/JpegDecoder.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QTimer>

using namespace commandurls;

namespace
{
const QString kDisconnected = QStringLiteral("Disconnected. Please reconnect.");

// A box whose stream request stays open and silent and whose every command is
// answered with success.
class Box
{
public:
    QList<QByteArray> commands() const
    {
        QList<QByteArray> lines = server.requestLinesByConnection();
        lines.removeAll(requestLine("/?action=stream"));
        return lines;
    }
    qsizetype streams() const
    {
        return server.requestLines().count(requestLine("/?action=stream"));
    }

    LoopbackServer server{[](QTcpSocket *socket, const QByteArray &line) {
        if (line.contains("action=stream"))
            return;
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                      "Content-Length: 14\r\nConnection: close\r\n\r\n{\"result\":\"0\"}");
        socket->disconnectFromHost();
    }};
};

// A sky of smooth colours with one saturated patch, smaller than the view so
// that the view shows it pixel for pixel.
const QRect kPatch(30, 20, 50, 40);
constexpr QRgb kBlack = 0xff000000;
QImage skyWithPatch()
{
    QImage sky(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < sky.height(); ++y)
        for (int x = 0; x < sky.width(); ++x)
            sky.setPixel(x, y, qRgb(x * 200 / 320, y * 200 / 240, 60));
    QPainter(&sky).fillRect(kPatch, Qt::white);
    return sky;
}

// What the window shows of part: "preview" (the picture only), "panel",
// "histogram" or "window".
QImage shown(WindowRig &rig, const QString &part)
{
    QWidget *widget = rig.window.get();
    QRect area = widget->rect();
    if (part == QLatin1String("preview")) {
        widget = rig.form().previewImgeView;
        area = rig.form().previewImgeView->pictureRect();
    } else if (part != QLatin1String("window")) {
        QWidget *w = part == QLatin1String("panel")
                         ? rig.form().menuView
                         : static_cast<QWidget *>(rig.form().histogramView);
        area = QRect(w->mapTo(widget, QPoint()), w->size()); // with the panel's effects
    }
    return widget->grab(area).toImage().convertToFormat(QImage::Format_RGB32);
}

// Opens the folder chooser, an alert, a pop-up list or menu, or a text field
// over the window and presses keys into it, then Escape, which closes all but
// the field.
void pressInto(WindowRig &rig, const QString &what, const QList<Qt::Key> &keys)
{
    platform::MessageBoxAlerts alerts;
    alerts.setWindow(rig.window.get());
    QMenu menu(rig.window.get());
    menu.addAction(what);
    QLineEdit field(rig.window->centralWidget());
    const auto press = [&] {
        const QWindow *main = rig.window->windowHandle();
        QTRY_VERIFY(QGuiApplication::focusWindow() &&
                    (QGuiApplication::focusWindow() != main || field.hasFocus()));
        for (const Qt::Key key : keys + QList{Qt::Key_Escape})
            QTest::keyClick(QGuiApplication::focusWindow(), key);
    };
    if (what == u"chooser") {
        QTimer::singleShot(0, press); // from inside the dialog's own loop
        platform::DialogFolderChooser(rig.window.get()).chooseFolder(what);
    } else {
        if (what == u"alert")
            alerts.show({what, what, {what}}, [](int) {});
        else if (what == u"list")
            rig.form().resolutionPopBtn->showPopup();
        else if (what == u"menu")
            menu.popup(rig.window->geometry().center());
        else
            field.show(), field.setFocus();
        press();
    }
    rig.window->activateWindow(); // as the window manager does when a dialog closes
    QTRY_VERIFY(QGuiApplication::focusWindow() == rig.window->windowHandle());
}

// A gesture: a button of the form by name, "frame" (a frame arrives), a key
// by name (a "+repeat" suffix makes it a held key's repeat), or keys pressed
// into something over the window ("field:Space", see pressInto; the arrow
// keys when none are named).
void gesture(WindowRig &rig, const QString &g)
{
    if (auto *button = rig.window->findChild<QPushButton *>(g)) {
        QTest::mouseClick(button, Qt::LeftButton);
    } else if (g == QLatin1String("frame")) {
        rig.frame({320, 240});
    } else if (g.front().isLower()) {
        const QString keys = g.section(QLatin1Char(':'), 1);
        pressInto(rig, g.section(QLatin1Char(':'), 0, 0),
                  keys.isEmpty() ? QList{Qt::Key_Left, Qt::Key_Right}
                                 : QList{Qt::Key(QKeySequence(keys)[0].key())});
    } else {
        const bool repeat = g.endsWith(QLatin1String("+repeat"));
        const int key = QKeySequence(QString(g).remove(QLatin1String("+repeat")))[0].key();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), repeat);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(), repeat);
        QCoreApplication::sendEvent(rig.window->windowHandle(), &press);
        QCoreApplication::sendEvent(rig.window->windowHandle(), &release);
    }
}

} // namespace

class tst_ViewController : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { appstyle::apply(*qApp); } // the look that night mode changes and restores
    void framesMoveThePopUp_data();
    void framesMoveThePopUp();
    void framesDecodeAtTheShownSize();
    void connection_data();
    void connection();
    void gestureSendsExactly_data();
    void gestureSendsExactly();
    void pictureAgeWhileTheBoxIsSilent();
    void aidChangesWhatIsShown_data();
    void aidChangesWhatIsShown();
    void aidsAreRemembered();
    void captureKeys_data();
    void captureKeys();
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

void tst_ViewController::framesDecodeAtTheShownSize()
{
    const QByteArray jpeg = testimages::jpeg(1920, 1080, 3);
    LoopbackServer box(LoopbackServer::cameraBox(jpeg, 40));
    WindowRig rig;
    LogCapture log;
    QVERIFY(rig.open(box.baseUrl(), {800, 500}));
    platform::PreviewView *preview = rig.form().previewImgeView;
    // The view is under 960 x 540: half the frame covers it, and the decoder
    // shrinks that to the view.
    const auto shown = [&] { return preview->decodeSizeFor({1920, 1080}); };
    QVERIFY(shown().width() < 960);
    QTRY_COMPARE(preview->image().size(), shown());
    QCOMPARE(rig.c().photoSize(), QSizeF(1920, 1080));
    QCOMPARE(platform::controls::selectedTag(rig.form().resolutionPopBtn), 5);
    const QStringList sizeLine{QStringLiteral("5 --- w:1920.000000 -- h:1080.000000")};
    QCOMPARE(log.lines().filter(QStringLiteral(" --- w:")), sizeLine);
    // It looks as the full frame shrunk always did: the filters differ by a
    // few levels in smooth parts and most at the mark's hard white edge.
    const QRect picture = preview->pictureRect();
    const QImage expected = JpegDecoder().decode(jpeg).scaled(picture.size(), Qt::IgnoreAspectRatio,
                                                              Qt::SmoothTransformation);
    const QImage painted = preview->grab(picture).toImage().convertToFormat(QImage::Format_RGB32);
    const int difference = testimages::maxDifference(painted, expected);
    QVERIFY2(difference <= 48, qPrintable(QString::number(difference)));

    // Focus assist scores, and its loupe shows, the frame's own pixels.
    rig.c().toggleFocusPanel();
    QTRY_COMPARE(preview->image().size(), QSize(1920, 1080));
    rig.c().toggleFocusPanel();
    QTRY_COMPARE(preview->image().size(), shown());

    // A larger window: the whole frame decoded, then shrunk; its size stays.
    rig.window->resize(1600, 1000);
    QTRY_VERIFY(shown().width() > 960 && preview->image().size() == shown());
    QCOMPARE(log.lines().filter(QStringLiteral(" --- w:")), sizeLine);
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
    QCOMPARE(rig.fakes.alerts.informativeTexts, alerts);
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
    row("arrow keys in a dialog, pop-up or field are theirs", "chooser alert list menu field Left",
        {focusOff, focus("20"), focus("10")});
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
        if ((moved = rig.window->findChild<QSlider *>(g))) {
            moved->setFocus();
            QTest::keyClick(moved, Qt::Key_End);
        } else if (g == QLatin1String("resolutionPopBtn")) {
            rig.chooseResolution(5);
        } else {
            gesture(rig, g);
        }
    }
    QList<QByteArray> lines;
    for (QByteArray target : targets)
        lines << requestLine(target.replace("$v", QByteArray::number(moved ? moved->value() : 0)));
    QTRY_COMPARE(box.commands(), lines);
    QTest::qWait(300); // and nothing after them
    QCOMPARE(box.commands(), lines);
}

void tst_ViewController::pictureAgeWhileTheBoxIsSilent()
{
    QPointer<QTcpSocket> stream; // sends a frame, then nothing until told
    LoopbackServer box([&](QTcpSocket *socket, const QByteArray &) {
        stream = socket;
        socket->write(StreamParts::httpHead("multipart/x-mixed-replace;boundary=b") +
                      StreamParts("--b").part(testimages::jpeg(320, 240)).bytes());
    });
    WindowRig rig;
    QVERIFY(rig.open(box.baseUrl()));
    platform::PreviewView *view = rig.form().previewImgeView;
    QTRY_VERIFY(!view->image().isNull());
    const auto picture = [view] { return view->grab(view->pictureRect()).toImage(); };
    const QImage live = picture();
    QTRY_COMPARE(rig.form().fpsLab->text(), QStringLiteral("FPS:1"));
    QTRY_COMPARE(rig.form().fpsLab->text(), QStringLiteral("FPS:0")); // 1 to 2 s old
    QVERIFY(view->pictureAgeText().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(view->pictureAgeText(), QStringLiteral("No new picture for 2 s"),
                              3500);
    QTRY_COMPARE_WITH_TIMEOUT(view->pictureAgeText(), QStringLiteral("No new picture for 3 s"),
                              1500);
    QVERIFY(picture() != live); // drawn on it
    const qint64 shown = view->image().cacheKey();
    stream->write(StreamParts("--b").raw("\r\n").part(testimages::jpeg(320, 240)).bytes());
    QTRY_VERIFY(view->image().cacheKey() != shown);
    QVERIFY(view->pictureAgeText().isEmpty()); // with the frame, not at the next report
    QCOMPARE(picture(), live);
    stream->disconnectFromHost(); // the "Disconnect" picture stands for itself
    QTRY_VERIFY(rig.c().isDisconnect());
    QTest::qWait(3200);
    QVERIFY(view->pictureAgeText().isEmpty());
}

void tst_ViewController::aidChangesWhatIsShown_data()
{
    QTest::addColumn<QString>("on");   // the gesture that switches the aid on
    QTest::addColumn<QString>("off");  // and the one that switches it off
    QTest::addColumn<QString>("part"); // what is compared (shown())
    QTest::addColumn<QString>("change");
    const auto row = [](const char *name, const char *on, const char *off, const char *part,
                        const char *change) {
        QTest::newRow(name) << QString(on) << QString(off) << QString(part) << QString(change);
    };
    row("flip horizontally, key", "M", "M", "preview", "mirror-x");
    row("flip vertically", "V", "flipVerticalBtn", "preview", "mirror-y");
    row("rotate 180", "rotateBtn", "O", "preview", "mirror-xy");
    row("reticle", "X", "reticleBtn", "preview", "differs");
    row("clipping: the saturated patch only, striped", "C", "clippingBtn", "preview", "stripes");
    row("red picture", "P", "nightPictureBtn", "preview", "red");
    row("night mode: the panel red, the picture untouched", "N", "nightModeBtn", "panel", "night");
    row("histogram off", "H", "histogramBtn", "panel", "differs");
    row("logarithmic histogram", "histogramLogBtn", "G", "histogram", "differs");
    row("full screen, Esc leaves", "F11", "Escape", "window", "no panel");
    row("full screen, button", "fullScreenBtn", "F11", "window", "no panel");
}

void tst_ViewController::aidChangesWhatIsShown()
{
    QFETCH(QString, on);
    QFETCH(QString, off);
    QFETCH(QString, part);
    QFETCH(QString, change);
    Box box;
    WindowRig rig;
    QVERIFY(rig.open(box.server.baseUrl()));
    rig.c().cameraBufferImage(skyWithPatch());
    // The frame's measures are in: 2,000 of its 76,800 pixels are clipped.
    QTRY_COMPARE(rig.form().clippedLab->text(), QStringLiteral("Clipped: 2.60%"));
    const QImage before = shown(rig, part);
    const QImage picture = shown(rig, QStringLiteral("preview"));

    gesture(rig, on);
    QTRY_VERIFY(shown(rig, part) != before); // measures arrive from their thread
    const QImage after = shown(rig, part);
    if (change.startsWith(QLatin1String("mirror")))
        QCOMPARE(after, before.mirrored(change != QLatin1String("mirror-y"),
                                        change != QLatin1String("mirror-x")));
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x) {
            const QRgb was = before.pixel(x, y), is = after.pixel(x, y);
            if (change == QLatin1String("stripes"))
                QVERIFY(was == is || (kPatch.contains(x, y) &&
                                      (is == platform::overlays::kWarningColor || is == kBlack)));
            else if (change == QLatin1String("red"))
                QVERIFY(qGreen(is) == 0 && qBlue(is) == 0 && qRed(is) <= qRed(was));
            else if (change == QLatin1String("night"))
                QVERIFY(qGreen(is) <= qRed(is) && qBlue(is) <= qRed(is) && qRed(is) < 200);
            else if (change == QLatin1String("no panel")) // nothing in the panel's grey
                QVERIFY(is != qRgb(0x2b, 0x2d, 0x31));
        }
    if (change == QLatin1String("night"))
        QCOMPARE(shown(rig, QStringLiteral("preview")), picture);
    if (change == QLatin1String("stripes")) { // striped: half in the warning colour
        int warned = 0;
        for (int y = kPatch.top(); y <= kPatch.bottom(); ++y)
            for (int x = kPatch.left(); x <= kPatch.right(); ++x)
                warned += after.pixel(x, y) == platform::overlays::kWarningColor;
        const int area = kPatch.width() * kPatch.height();
        QVERIFY(warned > area / 4 && warned < area * 3 / 4);
    }

    gesture(rig, off);
    QTRY_COMPARE(shown(rig, part), before);
}

void tst_ViewController::aidsAreRemembered()
{
    Box box;
    WindowRig rig;
    rig.fakes.settings.setString(QStringLiteral("viewAids/flipHorizontal"), QStringLiteral("1"));
    QVERIFY(rig.open(box.server.baseUrl()));
    rig.c().cameraBufferImage(skyWithPatch());
    const QImage flipped = shown(rig, QStringLiteral("preview"));
    gesture(rig, QStringLiteral("M"));
    QCOMPARE(shown(rig, QStringLiteral("preview")), flipped.mirrored(true, false));
    QCOMPARE(
        rig.fakes.settings.stringForKey(QStringLiteral("viewAids/flipHorizontal")).value_or(""),
        QStringLiteral("0"));
}

void tst_ViewController::captureKeys_data()
{
    QTest::addColumn<QString>("gestures");
    QTest::addColumn<int>("photos");
    QTest::addColumn<QString>("mode");
    QTest::newRow("Space takes a photo") << "Space" << 1 << "Photo";
    QTest::newRow("a held Space takes one")
        << "Space frame Space+repeat frame Space+repeat" << 1 << "Photo";
    QTest::newRow("a text field keeps Space") << "field:Space" << 0 << "Photo";
    QTest::newRow("a dialog keeps Space") << "chooser:Space" << 0 << "Photo";
    QTest::newRow("2 video") << "2" << 0 << "Video";
    QTest::newRow("3 time-lapse") << "3" << 0 << "Time-lapse";
    QTest::newRow("2 then 1: photo again") << "2 1 Space" << 1 << "Photo";
    QTest::newRow("the mode's own key keeps it") << "3 3" << 0 << "Time-lapse";
    QTest::newRow("a text field keeps the digits") << "field:2" << 0 << "Photo";
    QTest::newRow("after a click on a button Space still captures")
        << "modeBtn1 1 Space" << 1 << "Photo";
}

void tst_ViewController::captureKeys()
{
    QFETCH(QString, gestures);
    QFETCH(int, photos);
    QFETCH(QString, mode);
    Box box;
    WindowRig rig;
    QVERIFY(rig.open(box.server.baseUrl()));
    for (const QString &g : gestures.split(QLatin1Char(' ')))
        gesture(rig, g);
    rig.frame({320, 240});
    QCOMPARE(rig.files(QStringLiteral("*.jpg")).size(), photos);
    QCOMPARE(rig.form().currentModeBtn->text(), mode);
    QCOMPARE(box.commands(), QList<QByteArray>{}); // no key sends anything to the box
}

QTEST_MAIN(tst_ViewController)
#include "tst_ViewController.moc"
