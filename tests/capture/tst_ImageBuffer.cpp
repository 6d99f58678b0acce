#include "capture/ImageBuffer.h"
#include "support/TestImages.h"

#include <QRandomGenerator>
#include <QTest>

#include <limits>

namespace
{

struct Argb {
    int a, r, g, b;
    friend bool operator==(const Argb &, const Argb &) = default;
};

Argb pixelAt(const PixelBuffer &buffer, int x, int y)
{
    const uchar *p = buffer.row(y) + x * 4;
    return {p[0], p[1], p[2], p[3]};
}

Argb opaque(QRgb rgb)
{
    return {255, qRed(rgb), qGreen(rgb), qBlue(rgb)};
}

const Argb kBlack{255, 0, 0, 0};

// A frame whose every pixel differs from its neighbours, so that an
// off-by-one row or column shows.
QImage noisyFrame(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    return image;
}

} // namespace

class tst_ImageBuffer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sameSizeKeepsEveryPixelOpaque();
    void alphaIsOpaqueEvenIfRgb32MemorySaysOtherwise();
    void translucentFramesArePremultiplied();
    void sidesAreTruncated();
    void smallerFrameCoversBottomLeft();
    void largerFrameIsCutAtRightAndTop();
    void nullFrameGivesBlackBuffer();
    void reusedBufferKeepsNothingOfTheLastFrame();
    void impossibleSizesGiveNone_data();
    void impossibleSizesGiveNone();
};

void tst_ImageBuffer::sameSizeKeepsEveryPixelOpaque()
{
    const QImage frame = noisyFrame(1920, 1080, 7);
    const auto buffer = pixelBufferRefWithSize(frame, QSizeF(1920, 1080));
    QVERIFY(buffer);
    QCOMPARE(buffer->width(), 1920);
    QCOMPARE(buffer->height(), 1080);
    QCOMPARE(buffer->bytesPerRow(), 1920 * 4);
    for (int y = 0; y < 1080; ++y) {
        for (int x = 0; x < 1920; ++x) {
            if (pixelAt(*buffer, x, y) != opaque(frame.pixel(x, y)))
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 differs").arg(x).arg(y)));
        }
    }
}

void tst_ImageBuffer::alphaIsOpaqueEvenIfRgb32MemorySaysOtherwise()
{
    // RGB32 over foreign memory whose alpha bytes are zero: Qt ignores them,
    // and the buffer must not make the picture transparent.
    std::vector<quint32> memory(4 * 2, 0x00336699u);
    const QImage frame(reinterpret_cast<const uchar *>(memory.data()), 4, 2, 16,
                       QImage::Format_RGB32);
    const auto buffer = pixelBufferRefWithSize(frame, QSizeF(4, 2));
    QVERIFY(buffer);
    QCOMPARE(pixelAt(*buffer, 3, 1), (Argb{255, 0x33, 0x66, 0x99}));
}

void tst_ImageBuffer::translucentFramesArePremultiplied()
{
    QImage frame(2, 1, QImage::Format_ARGB32);
    frame.setPixel(0, 0, qRgba(200, 100, 50, 128));
    frame.setPixel(1, 0, qRgba(10, 20, 30, 0));
    const auto buffer = pixelBufferRefWithSize(frame, QSizeF(2, 1));
    QVERIFY(buffer);
    const Argb half = pixelAt(*buffer, 0, 0);
    QCOMPARE(half.a, 128);
    QVERIFY(qAbs(half.r - 100) <= 1 && qAbs(half.g - 50) <= 1 && qAbs(half.b - 25) <= 1);
    QCOMPARE(pixelAt(*buffer, 1, 0), (Argb{0, 0, 0, 0}));
}

void tst_ImageBuffer::sidesAreTruncated()
{
    const auto buffer = pixelBufferRefWithSize(noisyFrame(1280, 720, 1), QSizeF(1280.9, 720.9));
    QVERIFY(buffer);
    QCOMPARE(buffer->width(), 1280);
    QCOMPARE(buffer->height(), 720);
    QCOMPARE(buffer->byteCount(), qsizetype(1280) * 720 * 4);
}

void tst_ImageBuffer::smallerFrameCoversBottomLeft()
{
    const QImage frame = noisyFrame(4, 3, 2);
    const auto buffer = pixelBufferRefWithSize(frame, QSizeF(7, 5));
    QVERIFY(buffer);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            // The frame's rows 0..2 land on the buffer's last three rows.
            const bool covered = x < 4 && y >= 2;
            const Argb expected = covered ? opaque(frame.pixel(x, y - 2)) : kBlack;
            QVERIFY2(pixelAt(*buffer, x, y) == expected,
                     qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
        }
    }
}

void tst_ImageBuffer::largerFrameIsCutAtRightAndTop()
{
    const QImage frame = noisyFrame(9, 6, 3);
    const auto buffer = pixelBufferRefWithSize(frame, QSizeF(5, 4));
    QVERIFY(buffer);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x) {
            // The frame's bottom four rows and left five columns remain.
            QVERIFY2(pixelAt(*buffer, x, y) == opaque(frame.pixel(x, y + 2)),
                     qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
        }
    }
}

void tst_ImageBuffer::nullFrameGivesBlackBuffer()
{
    const auto buffer = pixelBufferRefWithSize(QImage(), QSizeF(3, 2));
    QVERIFY(buffer);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            QCOMPARE(pixelAt(*buffer, x, y), kBlack);
}

void tst_ImageBuffer::reusedBufferKeepsNothingOfTheLastFrame()
{
    auto buffer = pixelBufferRefWithSize(noisyFrame(6, 4, 4), QSizeF(6, 4));
    QVERIFY(buffer);
    const QImage next = noisyFrame(2, 3, 5);
    drawFrameIntoPixelBuffer(next, *buffer);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            const bool covered = x < 2 && y >= 1;
            const Argb expected = covered ? opaque(next.pixel(x, y - 1)) : kBlack;
            QVERIFY2(pixelAt(*buffer, x, y) == expected,
                     qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
        }
    }
}

void tst_ImageBuffer::impossibleSizesGiveNone_data()
{
    QTest::addColumn<QSizeF>("size");
    QTest::newRow("zero width") << QSizeF(0, 10);
    QTest::newRow("zero height") << QSizeF(10, 0);
    QTest::newRow("below one") << QSizeF(0.99, 10);
    QTest::newRow("negative") << QSizeF(-640, 480);
    QTest::newRow("nan") << QSizeF(std::numeric_limits<double>::quiet_NaN(), 480);
    QTest::newRow("infinite") << QSizeF(std::numeric_limits<double>::infinity(), 480);
    QTest::newRow("too wide") << QSizeF(PixelBuffer::kMaxSide + 1, 2);
}

void tst_ImageBuffer::impossibleSizesGiveNone()
{
    QFETCH(QSizeF, size);
    QVERIFY(!pixelBufferRefWithSize(testimages::picture(8, 8), size));
}

QTEST_GUILESS_MAIN(tst_ImageBuffer)
#include "tst_ImageBuffer.moc"
