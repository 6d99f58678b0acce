#include "stream/JpegDecoder.h"

#include "support/ProcessFigures.h"
#include "support/TestImages.h"

#include <QBuffer>
#include <QImageWriter>
#include <QTest>

namespace
{

QByteArray encode(const QImage &image, const char *format = "JPEG", bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

// The largest difference in any channel of any pixel; 255 for another size.
int difference(const QImage &a, const QImage &b)
{
    int worst = a.size() == b.size() ? 0 : 255;
    for (int y = 0; y < a.height() && worst < 255; ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int shift : {0, 8, 16})
                worst = std::max(worst, std::abs(int(a.pixel(x, y) >> shift & 0xff) -
                                                 int(b.pixel(x, y) >> shift & 0xff)));
    return worst;
}

// What the system decoder makes of the bytes.
QImage reference(const QByteArray &jpeg)
{
    return QImage::fromData(jpeg).convertToFormat(QImage::Format_RGB32);
}

QByteArray withDeclaredSize(QByteArray jpeg, int width, int height)
{
    const qsizetype sof = jpeg.indexOf("\xFF\xC0") + 5;
    const char size[] = {char(height >> 8), char(height), char(width >> 8), char(width)};
    return jpeg.replace(sof, 4, size, 4);
}

} // namespace

class tst_JpegDecoder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decodes_data();
    void decodes();
    void refuses_data();
    void refuses();
    void errorsDoNotSpoilTheNextPicture();
    void damagedPictureShowsGreyNotOldMemory();
    void reusesFrameMemoryOnlyWhenNobodyHoldsIt();
};

void tst_JpegDecoder::decodes_data()
{
    QTest::addColumn<QByteArray>("jpeg");
    QTest::newRow("640x480") << testimages::jpeg(640, 480, 1);
    QTest::newRow("odd size 33x17") << testimages::jpeg(33, 17, 2);
    QTest::newRow("1x1") << testimages::jpeg(1, 1, 3);
    QTest::newRow("progressive") << encode(testimages::picture(320, 240, 6), "JPEG", true);
    QTest::newRow("grey") << encode(
        testimages::picture(80, 60).convertToFormat(QImage::Format_Grayscale8));
}

void tst_JpegDecoder::decodes()
{
    QFETCH(QByteArray, jpeg);
    JpegDecoder decoder;
    const QImage image = decoder.decode(jpeg);
    QCOMPARE(image.format(), QImage::Format_RGB32);
    QCOMPARE(decoder.peekSize(jpeg), image.size());
    QVERIFY(difference(image, reference(jpeg)) <= 2);
    QCOMPARE(qAlpha(image.pixel(0, image.height() - 1)), 255); // RGB32 keeps 0xff there
}

void tst_JpegDecoder::refuses_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray jpeg = testimages::jpeg(32, 32, 1);
    QTest::newRow("nothing") << QByteArray();
    QTest::newRow("start marker only") << QByteArray("\xFF\xD8\xFF");
    QTest::newRow("PNG") << encode(testimages::picture(8, 8), "PNG");
    QTest::newRow("headers only") << jpeg.first(jpeg.indexOf("\xFF\xC0"));
    QTest::newRow("no quantisation tables")
        << jpeg.left(jpeg.indexOf("\xFF\xDB")) + jpeg.mid(jpeg.indexOf("\xFF\xC0"));
    // Sizes refused from the header alone, before any pixel memory is taken.
    QTest::newRow("declares 4097 x 4096") << withDeclaredSize(jpeg, 4097, 4096);
    QTest::newRow("declares 65500 x 65500") << withDeclaredSize(jpeg, 65500, 65500);
}

void tst_JpegDecoder::refuses()
{
    QFETCH(QByteArray, bytes);
    JpegDecoder decoder;
    // A decode before leaves tables that a picture without its own must not borrow.
    QVERIFY(!decoder.decode(testimages::jpeg(32, 32, 2)).isNull());
    const qint64 heapBefore = processfigures::heapInUse();
    QVERIFY(decoder.decode(bytes).isNull());
    QVERIFY(processfigures::heapInUse() < heapBefore + (4 << 20));
}

void tst_JpegDecoder::errorsDoNotSpoilTheNextPicture()
{
    JpegDecoder decoder;
    for (int i = 0; i < 10; ++i) {
        QVERIFY(decoder.decode("\xFF\xD8 broken \xFF\xD9").isNull());
        // Beyond what libjpeg reads at all: an error inside the header.
        QVERIFY(decoder.decode(withDeclaredSize(testimages::jpeg(8, 8), 65535, 65535)).isNull());
        const QByteArray jpeg = testimages::jpeg(16 + i, 16 + 2 * i, i);
        QCOMPARE(difference(decoder.decode(jpeg), reference(jpeg)), 0);
    }
}

void tst_JpegDecoder::damagedPictureShowsGreyNotOldMemory()
{
    // A progressive picture cut short: at many cuts libjpeg-turbo 2.1 calls
    // the failure a warning, as for any truncated picture, and yet leaves
    // rows it never wrote. Old pictures of the same size, in a colour no
    // decode makes, lie where those rows would come from: freed, and kept
    // for reuse.
    const QByteArray jpeg = encode(testimages::picture(64, 64, 3), "JPEG", true);
    QImage old(64, 64, QImage::Format_RGB32);
    old.fill(qRgb(250, 3, 251));
    JpegDecoder decoder;
    int decoded = 0;
    for (qsizetype cut = 160; cut < jpeg.size(); cut += 23) {
        QImage(old).fill(qRgb(250, 3, 251));
        QVERIFY(!decoder.decode(encode(old)).isNull());
        const QImage damaged = decoder.decode(QByteArrayView(jpeg).first(cut));
        decoded += !damaged.isNull();
        for (int y = 0; y < damaged.height(); ++y)
            for (int x = 0; x < 64; ++x) {
                const QRgb p = damaged.pixel(x, y);
                QVERIFY2(qRed(p) < 200 || qGreen(p) > 20 || qBlue(p) < 200,
                         qPrintable(QStringLiteral("cut at %1, %2,%3").arg(cut).arg(x).arg(y)));
            }
    }
    QVERIFY(decoded > 0);
    // A baseline picture cut short keeps the rows its data covers.
    const QByteArray baseline = testimages::jpeg(64, 64, 3);
    QCOMPARE(
        decoder.decode(QByteArrayView(baseline).first(baseline.size() * 3 / 4)).copy(0, 0, 64, 8),
        reference(baseline).copy(0, 0, 64, 8));
}

void tst_JpegDecoder::reusesFrameMemoryOnlyWhenNobodyHoldsIt()
{
    const QByteArray jpegs[] = {testimages::jpeg(48, 32, 1), testimages::jpeg(48, 32, 2)};
    JpegDecoder decoder;
    // Pictures still held (the view shows one, a test keeps a list) are never
    // written again, however many come after them.
    QList<QImage> held;
    for (int i = 0; i < 6; ++i)
        held.append(decoder.decode(jpegs[i % 2]));
    for (int i = 0; i < 6; ++i)
        QCOMPARE(difference(held[i], reference(jpegs[i % 2])), 0);
    // A picture let go is the memory of the next one of its size.
    held.clear();
    decoder.releaseReusedImages();
    QImage first = decoder.decode(jpegs[0]);
    const uchar *const memory = std::exchange(first, QImage()).constBits();
    const QImage second = decoder.decode(jpegs[1]);
    QCOMPARE(second.constBits(), memory);
    QCOMPARE(difference(second, reference(jpegs[1])), 0);
}

QTEST_GUILESS_MAIN(tst_JpegDecoder)
#include "tst_JpegDecoder.moc"
