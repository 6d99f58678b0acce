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
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

// What the system decoder makes of the bytes.
QImage reference(const QByteArray &jpeg)
{
    return QImage::fromData(jpeg).convertToFormat(QImage::Format_RGB32);
}

// Within tolerance of each other in every channel of every pixel.
bool near(const QImage &a, const QImage &b, int tolerance = 2)
{
    for (int y = 0; y < a.height() && a.size() == b.size(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int shift : {0, 8, 16})
                if (std::abs(int(a.pixel(x, y) >> shift & 0xff) -
                             int(b.pixel(x, y) >> shift & 0xff)) > tolerance)
                    return false;
    return a.size() == b.size();
}

} // namespace

class tst_JpegDecoder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decode_data();
    void decode();
    void damagedPictureShowsGreyNotOldMemory();
    void reusesFrameMemoryOnlyWhenNobodyHoldsIt();
};

void tst_JpegDecoder::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("picture");
    const QByteArray jpeg = testimages::jpeg(32, 32, 1);
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    QTest::newRow("640x480") << testimages::jpeg(640, 480, 1) << true;
    QTest::newRow("odd size 33x17") << testimages::jpeg(33, 17, 2) << true;
    QTest::newRow("1x1") << testimages::jpeg(1, 1, 3) << true;
    QTest::newRow("progressive") << encode(testimages::picture(320, 240, 6), "JPEG", true) << true;
    QTest::newRow("grey") << encode(testimages::picture(80, 60).convertToFormat(
                                 QImage::Format_Grayscale8))
                          << true;
    QTest::newRow("nothing") << QByteArray() << false;
    QTest::newRow("start marker only") << QByteArray("\xFF\xD8\xFF") << false;
    QTest::newRow("PNG") << encode(testimages::picture(8, 8), "PNG") << false;
    QTest::newRow("headers only") << jpeg.left(sof) << false;
    // A picture without tables of its own must not borrow those of the last one.
    QTest::newRow("no quantisation tables")
        << jpeg.left(jpeg.indexOf("\xFF\xDB")) + jpeg.mid(sof) << false;
    // Refused from the header alone, before any pixel memory is taken.
    QTest::newRow("declares 4097 x 4096")
        << QByteArray(jpeg).replace(sof + 5, 4, QByteArray::fromHex("10001001")) << false;
    QTest::newRow("declares 65535 x 65535")
        << QByteArray(jpeg).replace(sof + 5, 4, QByteArray::fromHex("ffffffff")) << false;
}

void tst_JpegDecoder::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, picture);
    JpegDecoder decoder;
    const QByteArray good = testimages::jpeg(48, 32, 2);
    QVERIFY(near(decoder.decode(good), reference(good)));
    const qint64 heapBefore = processfigures::heapInUse();
    const QImage image = decoder.decode(bytes);
    QVERIFY(processfigures::heapInUse() < heapBefore + (16 << 20));
    QCOMPARE(!image.isNull(), picture);
    QVERIFY(!picture || near(image, reference(bytes)));
    QVERIFY(!picture || decoder.peekSize(bytes) == image.size());
    QVERIFY(!picture || qAlpha(image.pixel(0, image.height() - 1)) == 255); // RGB32
    QVERIFY(near(decoder.decode(good), reference(good))); // nothing of it spoils the next
}

void tst_JpegDecoder::damagedPictureShowsGreyNotOldMemory()
{
    // A progressive picture cut short: at many cuts libjpeg-turbo 2.1 calls
    // the failure a warning, as for any truncated picture, and yet leaves
    // rows it never wrote. An old picture in a colour no decode makes lies
    // where those rows would come from.
    const QByteArray jpeg = encode(testimages::picture(64, 64, 3), "JPEG", true);
    QImage old(64, 64, QImage::Format_RGB32);
    old.fill(qRgb(250, 3, 251));
    JpegDecoder decoder;
    int decoded = 0;
    for (qsizetype cut = 160; cut < jpeg.size(); cut += 23) {
        QVERIFY(!decoder.decode(encode(old)).isNull()); // kept for reuse, and let go
        const QImage damaged = decoder.decode(QByteArrayView(jpeg).first(cut));
        decoded += !damaged.isNull();
        for (int y = 0; y < damaged.height(); ++y)
            for (int x = 0; x < 64; ++x)
                QVERIFY2(qGreen(damaged.pixel(x, y)) > 20 || qBlue(damaged.pixel(x, y)) < 200,
                         qPrintable(QStringLiteral("cut at %1, row %2").arg(cut).arg(y)));
    }
    QVERIFY(decoded > 0);
    // A baseline picture cut short keeps the rows its data covers.
    const QByteArray baseline = testimages::jpeg(64, 64, 3);
    const QImage cut = decoder.decode(QByteArrayView(baseline).first(baseline.size() * 3 / 4));
    QVERIFY(near(cut.copy(0, 0, 64, 8), reference(baseline).copy(0, 0, 64, 8), 0));
}

void tst_JpegDecoder::reusesFrameMemoryOnlyWhenNobodyHoldsIt()
{
    const QByteArray jpegs[] = {testimages::jpeg(48, 32, 1), testimages::jpeg(48, 32, 2)};
    JpegDecoder decoder;
    // Pictures still held (the view shows one) are never written again.
    QList<QImage> held;
    for (int i = 0; i < 6; ++i)
        held.append(decoder.decode(jpegs[i % 2]));
    for (int i = 0; i < 6; ++i)
        QVERIFY(near(held[i], reference(jpegs[i % 2]), 0));
    // Pictures let go are the memory of the next ones of their size, in turn.
    held.clear();
    decoder.releaseReusedImages();
    held = {decoder.decode(jpegs[0]), decoder.decode(jpegs[1])};
    const uchar *const memory[] = {held[0].constBits(), held[1].constBits()};
    held.clear();
    const QImage next[] = {decoder.decode(jpegs[1]), decoder.decode(jpegs[0])};
    QVERIFY(next[0].constBits() == memory[0] && next[1].constBits() == memory[1]);
    QVERIFY(near(next[0], reference(jpegs[1]), 0));
}

QTEST_GUILESS_MAIN(tst_JpegDecoder)
#include "tst_JpegDecoder.moc"
