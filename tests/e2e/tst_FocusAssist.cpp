// Focus assist in the window against the simulator's focus drive (backlash
// and seeing on): the sweep from the panel's button, the commands it sends,
// what stops it, what refuses it, and the region and loupe over the picture.

#include "support/CommandUrls.h"
#include "support/WindowRig.h"

#include <QSpinBox>
#include <QTemporaryDir>

using focus::FocusSweep;

namespace
{
constexpr int kTimeoutMs = 15000;
constexpr int kStep = 20; // lens travel of one arrow-key step in the simulator

class FocusRig : public WindowRig
{
public:
    // The window on the simulator, once its first picture is shown.
    bool start(int bestFocus = 500)
    {
        return WindowRig::start({QStringLiteral("--fps"), QStringLiteral("30"),
                                 QStringLiteral("--best-focus"), QString::number(bestFocus),
                                 QStringLiteral("--backlash"), QStringLiteral("12"),
                                 QStringLiteral("--seeing"), QStringLiteral("0.5"),
                                 QStringLiteral("--report-focus"), QStringLiteral("--command-log"),
                                 log.filePath(QStringLiteral("commands.log"))}) &&
               QTest::qWaitFor([this] { return !form().previewImgeView->image().isNull(); },
                               kTimeoutMs);
    }
    // The requests the box has answered, in order.
    QList<QByteArray> commands()
    {
        QFile file(log.filePath(QStringLiteral("commands.log")));
        QList<QByteArray> lines =
            file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>();
        lines.removeAll(QByteArray());
        return lines;
    }
    int commandCount() { return int(commands().size()); }
    int lens() { return sim().reportedFocus(); }
    platform::FocusPanel &panel() { return *c().outlets().focusPanel; }
    void key(Qt::Key k) { QTest::keyClick(window->windowHandle(), k); }
    QTemporaryDir log;
};
} // namespace

class tst_FocusAssist : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void findFocusFromThePanel_data();
    void findFocusFromThePanel();
    void whatStopsTheSweep_data();
    void whatStopsTheSweep();
    void refusedWhileRecording();
    void regionAndLoupe();
};

void tst_FocusAssist::findFocusFromThePanel_data()
{
    QTest::addColumn<int>("bestFocus");
    QTest::addColumn<int>("steps");
    // The drive starts at 350; the best lies towards far, then towards near.
    QTest::addRow("best towards far, 18 steps") << 500 << 18;
    QTest::addRow("best towards near, 20 steps") << 210 << 20;
}

void tst_FocusAssist::findFocusFromThePanel()
{
    QFETCH(int, bestFocus);
    QFETCH(int, steps);
    FocusRig rig;
    QVERIFY2(rig.start(bestFocus), "camera-box-sim did not start");
    QVERIFY(rig.panel().isHidden());
    rig.key(Qt::Key_F);
    QVERIFY(rig.panel().isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().focusHistory().size() > 3, kTimeoutMs);
    QCOMPARE(rig.panel().scoreLab->text(),
             QString::number(rig.c().focusHistory().last().y(), 'f', 2));
    double highest = 0;
    for (const QPointF &reading : rig.c().focusHistory())
        highest = std::max(highest, reading.y());
    QCOMPARE(rig.c().bestFocusScore(), highest);

    rig.panel().sweepStepsBox->setValue(steps);
    QTest::mouseClick(rig.panel().findFocusBtn, Qt::LeftButton);
    const FocusSweep &sweep = rig.c().focusSweep();
    QVERIFY(sweep.isRunning());
    QCOMPARE(rig.panel().findFocusBtn->text(), QStringLiteral("Stop"));
    QTRY_COMPARE_WITH_TIMEOUT(sweep.state(), FocusSweep::State::Found, 120000);
    QCOMPARE(rig.panel().curvePlot->points().size(), steps + 1);
    QCOMPARE(rig.panel().curvePlot->marker(), sweep.bestStep());
    QTest::qWait(300); // the last answers' log lines and reports
    QVERIFY2(qAbs(rig.lens() - bestFocus) <= kStep, qPrintable(QString::number(rig.lens())));
    // A changed count is remembered; the default needs no entry.
    QCOMPARE(rig.fakes.settings.stringForKey(ViewController::kFocusStepsKey)
                 .value_or(QStringLiteral("20")),
             QString::number(steps));
    // The curve is a V: its ends are well below its top.
    const QList<QPointF> &curve = sweep.curve();
    const double top = curve[sweep.bestStep()].y();
    QVERIFY(curve.first().y() < top * 0.8 || curve.last().y() < top * 0.8);

    // Only the arrow keys' commands, in whole steps: back half the range and
    // the overshoot, forward the overshoot and the range, back past the best
    // by the overshoot, forward the overshoot.
    using namespace commandurls;
    QMap<QByteArray, int> count;
    for (const QByteArray &line : rig.commands())
        ++count[line];
    const int overshoot = sweep.settings().overshoot;
    const int near = steps / 2 + overshoot + steps - sweep.bestStep() + overshoot;
    const int far = overshoot + steps + overshoot;
    const QMap<QByteArray, int> expected = {{control(kFocusAuto, "0"), near + far},
                                            {control(kFocusAbsolute, "20"), near},
                                            {control(kFocusAbsolute, "10"), near},
                                            {control(kFocusAbsolute, "90"), far},
                                            {control(kFocusAbsolute, "80"), far}};
    QCOMPARE(count, expected);
}

void tst_FocusAssist::whatStopsTheSweep_data()
{
    QTest::addColumn<QString>("how");
    for (const char *how :
         {"Esc", "Left arrow", "focus button", "Stop button", "Stop at once", "stream stopped"})
        QTest::addRow("%s", how) << QString::fromLatin1(how);
}

void tst_FocusAssist::whatStopsTheSweep()
{
    QFETCH(QString, how);
    FocusRig rig;
    QVERIFY2(rig.start(), "camera-box-sim did not start");
    rig.key(Qt::Key_F);
    QTest::mouseClick(rig.panel().findFocusBtn, Qt::LeftButton);
    // At once: while its first step's commands are on their way.
    if (how != QLatin1String("Stop at once"))
        QTRY_VERIFY_WITH_TIMEOUT(rig.c().focusSweep().curve().size() >= 2, 60000);

    if (how == QLatin1String("Esc"))
        rig.key(Qt::Key_Escape);
    else if (how == QLatin1String("Left arrow"))
        rig.key(Qt::Key_Left);
    else if (how == QLatin1String("focus button"))
        QTest::mouseClick(rig.form().rightBtn, Qt::LeftButton);
    else if (how.startsWith(QLatin1String("Stop")))
        QTest::mouseClick(rig.panel().findFocusBtn, Qt::LeftButton);
    else
        QTest::mouseClick(rig.form().statusBtn, Qt::LeftButton);
    QTRY_COMPARE(rig.c().focusSweep().state(), FocusSweep::State::Cancelled);
    QCOMPARE(rig.panel().findFocusBtn->text(), QStringLiteral("Find focus"));
    // The last step's answers and the key's or button's own commands come
    // back; then nothing more is sent for a whole second.
    int sent = rig.commandCount(), quiet = 0;
    for (int i = 0; i < 24 && quiet < 4; ++i) {
        QTest::qWait(250);
        const int now = rig.commandCount();
        quiet = now == sent ? quiet + 1 : 0;
        sent = now;
    }
    QCOMPARE(quiet, 4);
}

void tst_FocusAssist::refusedWhileRecording()
{
    FocusRig rig;
    QVERIFY2(rig.start(), "camera-box-sim did not start");
    rig.key(Qt::Key_F);
    rig.chooseMode(QStringLiteral("Video"));
    rig.press();
    QTRY_VERIFY_WITH_TIMEOUT(rig.c().isVideo(), kTimeoutMs);
    QTest::mouseClick(rig.panel().findFocusBtn, Qt::LeftButton);
    QCOMPARE(rig.c().focusSweep().state(), FocusSweep::State::Idle);
    QCOMPARE(rig.notice(), QStringLiteral("No focus sweep while recording"));
    QTest::qWait(300);
    QCOMPARE(rig.commandCount(), 0);
    rig.press();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.c().isVideo(), kTimeoutMs);
}

void tst_FocusAssist::regionAndLoupe()
{
    FocusRig rig;
    QVERIFY2(rig.start(), "camera-box-sim did not start");
    platform::FocusOverlay &overlay = rig.c().focusOverlay();
    QVERIFY(!overlay.isRegionVisible());
    rig.key(Qt::Key_F);
    QVERIFY(overlay.isRegionVisible());
    rig.key(Qt::Key_R);
    QVERIFY(!overlay.isRegionVisible());
    rig.key(Qt::Key_R);
    QCOMPARE(overlay.region(), platform::FocusOverlay::kDefaultRegion);

    // Dragged by its middle, then pulled by its bottom-right corner.
    platform::PreviewView *view = rig.form().previewImgeView;
    const QRect picture = view->pictureRect();
    const auto onView = [&](QPointF f) {
        return QPoint(picture.left() + int(f.x() * picture.width()),
                      picture.top() + int(f.y() * picture.height()));
    };
    const QRectF start = overlay.region();
    QTest::mousePress(view, Qt::LeftButton, {}, onView(start.center()));
    QTest::mouseMove(view, onView(start.center() + QPointF(0.1, -0.1)));
    QTest::mouseRelease(view, Qt::LeftButton, {}, onView(start.center() + QPointF(0.1, -0.1)));
    QVERIFY(qAbs(overlay.region().left() - (start.left() + 0.1)) < 0.01);
    QVERIFY(qAbs(overlay.region().top() - (start.top() - 0.1)) < 0.01);
    QVERIFY(qAbs(overlay.region().width() - start.width()) < 1e-9);
    const QRectF moved = overlay.region();
    QTest::mousePress(view, Qt::LeftButton, {}, onView(moved.bottomRight()));
    QTest::mouseMove(view, onView(moved.bottomRight() + QPointF(2, 2)));
    QTest::mouseRelease(view, Qt::LeftButton, {}, onView(moved.bottomRight() + QPointF(2, 2)));
    QCOMPARE(overlay.region().topLeft(), moved.topLeft());
    QCOMPARE(overlay.region().right(), 1.0); // stopped by the frame's edge
    QCOMPARE(overlay.region().bottom(), 1.0);
    const QRectF resized = overlay.region();

    // The loupe's zooms go round with L.
    for (int zoom : {1, 2, 4, 0}) {
        rig.key(Qt::Key_L);
        QCOMPARE(overlay.loupeZoom(), zoom);
    }

    // Remembered: a window started on the same settings has it.
    const auto stored = rig.fakes.settings.stringForKey(ViewController::kFocusRegionKey);
    QVERIFY(stored.has_value());
    FocusRig again;
    again.fakes.settings.setString(ViewController::kFocusRegionKey, *stored);
    QVERIFY(again.start());
    QVERIFY(qAbs(again.c().focusOverlay().region().left() - resized.left()) < 1e-6);
    QVERIFY(qAbs(again.c().focusOverlay().region().height() - resized.height()) < 1e-6);
}

QTEST_MAIN(tst_FocusAssist)
#include "tst_FocusAssist.moc"
