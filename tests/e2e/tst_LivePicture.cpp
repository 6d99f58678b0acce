// The viewer's window on the camera-box simulator process, the way a user
// starts it: the box's frames are shown, sized and counted.

#include "platform/Controls.h"
#include "support/WindowRig.h"

class tst_LivePicture : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void framesAreShownAndCounted();
};

void tst_LivePicture::framesAreShownAndCounted()
{
    WindowRig rig;
    QVERIFY2(rig.start({QStringLiteral("--resolution"), QStringLiteral("8"),
                        QStringLiteral("--fps"), QStringLiteral("15")}),
             "camera-box-sim did not start");
    QTRY_COMPARE_WITH_TIMEOUT(rig.c().photoSize(), QSizeF(1280, 720), 10000);
    QCOMPARE(platform::controls::selectedTag(rig.form().resolutionPopBtn), 8);
    QCOMPARE(rig.form().previewImgeView->image().size(), QSize(1280, 720));
    // Any count above zero shows frames flowing; rates belong to the benchmark.
    QTRY_VERIFY_WITH_TIMEOUT(rig.form().fpsLab->text().section(':', 1).toInt() > 0, 10000);
    QVERIFY(rig.form().fpsLab->text().startsWith(QLatin1String("FPS:")));
    QTRY_VERIFY_WITH_TIMEOUT(rig.form().previewImgeView->paintCount() > 3, 10000);
}

QTEST_MAIN(tst_LivePicture)
#include "tst_LivePicture.moc"
