// The viewer's window on the camera-box simulator process, the way a user
// starts it: the box's frames are shown, sized and counted, the box takes the
// sizes it has and refuses others, and its picture answers the controls. The
// exact requests are checked on the loopback wire in tst_ViewController.

#include "control/CommandAnswer.h"
#include "control/CommandUrl.h"
#include "control/RequestManager.h"
#include "platform/Controls.h"
#include "support/WindowRig.h"

#include <algorithm>

namespace
{
constexpr int kTimeoutMs = 15000;

// Means over the frame above its caption: the grey level, red and blue. (The
// simulator's focus drive is tst_FocusAssist's.)
struct Means {
    double luma = 0, red = 0, blue = 0;
    double redOverBlue() const { return red / std::max(blue, 1.0); }
};
Means means(const QImage &image)
{
    Means m;
    const int rows = image.height() * 4 / 5;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            m.luma += qGray(p);
            m.red += qRed(p);
            m.blue += qBlue(p);
        }
    const double n = double(image.width()) * rows;
    return {m.luma / n, m.red / n, m.blue / n};
}
} // namespace

class tst_CameraControls : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void framesAndTheirSize();
    void skyAnswersTheControls();
};

void tst_CameraControls::framesAndTheirSize()
{
    WindowRig rig;
    QVERIFY2(rig.start({}), "camera-box-sim did not start");
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().photoSize(), QSizeF(640, 480), kTimeoutMs);
    rig.chooseResolution(8);
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().photoSize(), QSizeF(1280, 720), kTimeoutMs);
    // Decoded and shrunk to the view, which is smaller than the frame.
    const platform::PreviewView *preview = rig.form().previewImgeView;
    QTRY_COMPARE_WITH_TIMEOUT(preview->image().size(), preview->decodeSizeFor({1280, 720}),
                              kTimeoutMs);
    QVERIFY(preview->image().width() < 1280);
    QCOMPARE(platform::controls::selectedTag(rig.form().resolutionPopBtn), 8);
    // Any count above zero shows frames flowing; rates belong to the benchmark.
    QTRY_VERIFY_WITH_TIMEOUT(rig.form().fpsLab->text().section(':', 1).toInt() > 0, kTimeoutMs);
    QVERIFY(rig.form().fpsLab->text().startsWith(QLatin1String("FPS:")));
    QTRY_VERIFY_WITH_TIMEOUT(rig.form().previewImgeView->paintCount() > 3, kTimeoutMs);

    // Every size the box serves leads back to the item chosen: the viewer's
    // table and the box's numbering agree. (Consecutive tags differ in size.)
    for (const int tag : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}) {
        const QSizeF before = rig.c().photoSize();
        rig.chooseResolution(tag);
        QTRY_VERIFY_WITH_TIMEOUT(rig.c().photoSize() != before, kTimeoutMs);
        QVERIFY2(platform::controls::selectedTag(rig.form().resolutionPopBtn) == tag,
                 qPrintable(QStringLiteral("tag %1 came back as %2 x %3")
                                .arg(tag)
                                .arg(rig.c().photoSize().width())
                                .arg(rig.c().photoSize().height())));
    }

    // A size the box does not have is refused, as the box's own server does.
    std::optional<bool> taken;
    RequestManager::sharedManager().getApi(CommandUrl::resolutionCommand(12), {},
                                           [&](const QJsonValue &answer, const QString &) {
                                               taken = CommandAnswer::isSuccess(answer);
                                           });
    QTRY_VERIFY_WITH_TIMEOUT(taken.has_value(), kTimeoutMs);
    QVERIFY(!*taken);
}

void tst_CameraControls::skyAnswersTheControls()
{
    WindowRig rig;
    QVERIFY2(rig.start({QStringLiteral("--fps"), QStringLiteral("15")}),
             "camera-box-sim did not start");
    const FormControls &form = rig.form();
    const auto now = [&] { return means(form.previewImgeView->image()); };
    QTRY_VERIFY_WITH_TIMEOUT(!form.previewImgeView->image().isNull(), kTimeoutMs);

    // Exposure: the longest brightens the sky; automatic brings it back.
    const double automatic = now().luma;
    form.exposureSlider->setFocus();
    QTest::keyClick(form.exposureSlider, Qt::Key_End);
    QTRY_VERIFY_WITH_TIMEOUT(now().luma > automatic * 2, kTimeoutMs);
    QTest::mouseClick(form.exposureBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(now().luma - automatic) < automatic * 0.2, kTimeoutMs);

    // White balance: the warmest setting tints the sky red.
    const double neutral = now().redOverBlue();
    form.whiteBalanceSlider->setFocus();
    QTest::keyClick(form.whiteBalanceSlider, Qt::Key_End);
    QTRY_VERIFY_WITH_TIMEOUT(now().redOverBlue() > neutral * 1.5, kTimeoutMs);
}

QTEST_MAIN(tst_CameraControls)
#include "tst_CameraControls.moc"
