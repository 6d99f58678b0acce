#include "platform/PreviewView.h"

#include "support/TestImages.h"

#include <QTest>

namespace
{

// A picture of one-pixel black and white squares: any filtered shrink turns
// it mid-grey, a shrink that picks pixels keeps black and white.
QImage checkerboard(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
    }
    return image;
}

} // namespace

class tst_PreviewView : public QObject
{
    Q_OBJECT

private slots:
    void everyPictureIsPaintedBeforeTheNextArrives();
    void fitsThePictureShrinkingButNeverEnlarging();
    void shrinksWithFiltering();
};

void tst_PreviewView::everyPictureIsPaintedBeforeTheNextArrives()
{
    platform::PreviewView view;
    view.resize(320, 240);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QList<QRgb> painted;
    connect(&view, &platform::PreviewView::painted, &view, [&] {
        const QImage &image = view.image();
        painted.append(image.pixel(image.width() / 2, image.height() / 2));
    });
    const std::uint64_t before = view.paintCount();
    // Back to back with no event loop in between, as frames come when the
    // network delivers several in one go.
    const QRgb colours[3] = {qRgb(200, 0, 0), qRgb(0, 200, 0), qRgb(0, 0, 200)};
    for (int i = 0; i < 9; ++i) {
        QImage frame(640, 480, QImage::Format_RGB32);
        frame.fill(colours[i % 3]);
        view.setImage(frame);
        QCOMPARE(view.paintCount(), before + std::uint64_t(i) + 1);
    }
    QCOMPARE(painted.size(), 9);
    for (int i = 0; i < 9; ++i)
        QCOMPARE(painted[i], colours[i % 3]);
    // And what the window shows is the last of them.
    const QImage shown = view.grab().toImage();
    QCOMPARE(shown.pixel(160, 120) & 0xffffff, colours[2] & 0xffffff);
}

void tst_PreviewView::fitsThePictureShrinkingButNeverEnlarging()
{
    platform::PreviewView view;
    view.resize(400, 300);
    QCOMPARE(view.pictureRect(), QRect());
    view.setImage(testimages::picture(200, 100));
    QCOMPARE(view.pictureRect(), QRect(100, 100, 200, 100));
    view.setImage(testimages::picture(1600, 600));
    QCOMPARE(view.pictureRect(), QRect(0, 75, 400, 150));
    view.setImage(testimages::picture(300, 900));
    QCOMPARE(view.pictureRect(), QRect(150, 0, 100, 300));
    view.resize(800, 1200);
    QCOMPARE(view.pictureRect(), QRect(250, 150, 300, 900));
}

void tst_PreviewView::shrinksWithFiltering()
{
    platform::PreviewView view;
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    // Whole and fractional ratios alike.
    for (const QSize size : {QSize(800, 600), QSize(1000, 750), QSize(1920, 1440)}) {
        view.setImage(checkerboard(size.width(), size.height()));
        QCOMPARE(view.pictureRect(), QRect(0, 0, 400, 300));
        const QImage shown = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
        int worst = 0;
        for (int y = 1; y < 299; ++y)
            for (int x = 1; x < 399; ++x)
                worst = std::max(worst, std::abs(qGray(shown.pixel(x, y)) - 128));
        QVERIFY2(worst <= 40, qPrintable(QStringLiteral("%1x%2: a pixel %3 from grey")
                                             .arg(size.width())
                                             .arg(size.height())
                                             .arg(worst)));
    }
}

QTEST_MAIN(tst_PreviewView)
#include "tst_PreviewView.moc"
