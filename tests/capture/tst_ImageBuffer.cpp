#include "capture/ImageBuffer.h"

#include <QRandomGenerator>
#include <QTest>

#include <limits>

namespace
{
// A frame whose every pixel differs from its neighbours, so that an
// off-by-one row or column shows. Its memory has random alpha bytes, which
// RGB32 ignores: the frame is opaque all the same.
QImage noisy(QSize size, QImage::Format format = QImage::Format_RGB32, quint32 seed = 1)
{
    QImage image(size, format);
    QRandomGenerator random(seed);
    for (int y = 0; y < size.height(); ++y)
        random.fillRange(reinterpret_cast<quint32 *>(image.scanLine(y)), size.width());
    return image;
}
} // namespace

class tst_ImageBuffer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void framePlacedBottomLeftAsArgb_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QSizeF>("size");
        QTest::addColumn<QSize>("bufferSize"); // empty: no buffer
        QTest::newRow("same size") << noisy({64, 48}) << QSizeF(64, 48) << QSize(64, 48);
        QTest::newRow("sides truncated") << noisy({12, 8}) << QSizeF(12.9, 8.9) << QSize(12, 8);
        QTest::newRow("smaller frame") << noisy({4, 3}) << QSizeF(7, 5) << QSize(7, 5);
        QTest::newRow("larger frame") << noisy({9, 6}) << QSizeF(5, 4) << QSize(5, 4);
        QTest::newRow("translucent")
            << noisy({3, 2}, QImage::Format_ARGB32) << QSizeF(3, 2) << QSize(3, 2);
        QTest::newRow("null frame") << QImage() << QSizeF(3, 2) << QSize(3, 2);
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double infinity = std::numeric_limits<double>::infinity();
        for (const QSizeF size :
             {QSizeF(0, 10), QSizeF(10, 0.99), QSizeF(-640, 480), QSizeF(nan, 480),
              QSizeF(infinity, 480), QSizeF(PixelBuffer::kMaxSide + 1, 2)})
            QTest::addRow("%gx%g", size.width(), size.height()) << noisy({8, 8}) << size << QSize();
    }
    void framePlacedBottomLeftAsArgb()
    {
        QFETCH(QImage, image);
        QFETCH(QSizeF, size);
        QFETCH(QSize, bufferSize);
        const auto made = pixelBufferRefWithSize(image, size);
        QCOMPARE(bool(made), !bufferSize.isEmpty());
        if (!made)
            return;
        // Drawn into a buffer that held another frame, the same, and nothing of that.
        const auto reused =
            pixelBufferRefWithSize(noisy(bufferSize, QImage::Format_RGB32, 2), size);
        drawFrameIntoPixelBuffer(image, *reused);

        // Premultiplied ARGB, bytes in the order A, R, G, B; what the frame does
        // not cover is opaque black.
        const QImage expected = image.format() == QImage::Format_ARGB32
                                    ? image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                    : image;
        for (const PixelBuffer *buffer : {made.get(), reused.get()}) {
            QCOMPARE(QSize(buffer->width(), buffer->height()), bufferSize);
            for (int y = 0; y < bufferSize.height(); ++y) {
                for (int x = 0; x < bufferSize.width(); ++x) {
                    const int frameY = y + expected.height() - bufferSize.height();
                    const QRgb want =
                        expected.valid(x, frameY) ? expected.pixel(x, frameY) : qRgb(0, 0, 0);
                    const uchar *got = buffer->row(y) + x * 4;
                    if (qRgba(got[1], got[2], got[3], got[0]) != want)
                        QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(tst_ImageBuffer)
#include "tst_ImageBuffer.moc"
