#include "stream/JpegDecoder.h"

#include "support/TestImages.h"

#include <QBuffer>
#include <QImageWriter>
#include <QTest>

#include <malloc.h>

namespace
{

QByteArray encode(const QImage &image, int quality, bool progressive)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "JPEG");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

// The largest difference in any channel of any pixel.
int maxDifference(const QImage &a, const QImage &b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

// The same picture with the frame header claiming another size.
QByteArray withDeclaredSize(QByteArray jpeg, int width, int height)
{
    qsizetype sof = jpeg.indexOf("\xFF\xC0");
    if (sof < 0)
        sof = jpeg.indexOf("\xFF\xC2");
    if (sof < 0)
        return {};
    jpeg[sof + 5] = char(height >> 8);
    jpeg[sof + 6] = char(height & 0xFF);
    jpeg[sof + 7] = char(width >> 8);
    jpeg[sof + 8] = char(width & 0xFF);
    return jpeg;
}

// The picture without its quantisation tables (every DQT segment cut out).
QByteArray withoutQuantTables(QByteArray jpeg)
{
    qsizetype at;
    while ((at = jpeg.indexOf("\xFF\xDB")) >= 0)
        jpeg.remove(at, 2 + (uchar(jpeg[at + 2]) << 8 | uchar(jpeg[at + 3])));
    return jpeg;
}

size_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

} // namespace

class tst_JpegDecoder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decodesLikeTheSystemDecoder_data();
    void decodesLikeTheSystemDecoder();
    void refusesWhatIsNotAPicture_data();
    void refusesWhatIsNotAPicture();
    void refusesHugePicturesFromTheHeaderAlone();
    void truncatedPictureStillDecodes();
    void oneDecoderServesManyPictures();
    void damagedPictureShowsGreyNotOldMemory();
    void noPictureBorrowsTheTablesOfAnother();
    void reusesFrameMemoryOnlyWhenNobodyHoldsIt();
};

void tst_JpegDecoder::decodesLikeTheSystemDecoder_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<int>("quality");
    QTest::addColumn<bool>("progressive");
    QTest::newRow("640x480") << testimages::picture(640, 480, 1) << 90 << false;
    QTest::newRow("odd size 33x17") << testimages::picture(33, 17, 2) << 90 << false;
    QTest::newRow("1x1") << testimages::picture(1, 1, 3) << 90 << false;
    QTest::newRow("quality 100") << testimages::picture(64, 48, 4) << 100 << false;
    QTest::newRow("quality 20") << testimages::picture(64, 48, 5) << 20 << false;
    QTest::newRow("progressive") << testimages::picture(320, 240, 6) << 85 << true;
    QTest::newRow("grey") << testimages::picture(80, 60, 7).convertToFormat(
                                 QImage::Format_Grayscale8)
                          << 90 << false;
    QImage rgb(48, 16, QImage::Format_RGB32);
    rgb.fill(Qt::red);
    for (int y = 0; y < 16; ++y)
        for (int x = 16; x < 48; ++x)
            rgb.setPixel(x, y, x < 32 ? qRgb(0, 255, 0) : qRgb(0, 0, 255));
    QTest::newRow("red, green, blue") << rgb << 95 << false;
}

void tst_JpegDecoder::decodesLikeTheSystemDecoder()
{
    QFETCH(QImage, picture);
    QFETCH(int, quality);
    QFETCH(bool, progressive);
    const QByteArray jpeg = encode(picture, quality, progressive);
    QVERIFY(!jpeg.isEmpty());
    JpegDecoder decoder;
    QCOMPARE(decoder.peekSize(jpeg), picture.size());
    const QImage image = decoder.decode(jpeg);
    QCOMPARE(image.size(), picture.size());
    QCOMPARE(image.format(), QImage::Format_RGB32);
    const QImage reference = QImage::fromData(jpeg, "JPEG").convertToFormat(QImage::Format_RGB32);
    QVERIFY(maxDifference(image, reference) <= 2);
    // Opaque: RGB32 keeps 0xff in the unused byte.
    for (int y = 0; y < image.height(); y += 7)
        QCOMPARE(qAlpha(reinterpret_cast<const QRgb *>(image.constScanLine(y))[0]), 255);
}

void tst_JpegDecoder::refusesWhatIsNotAPicture_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray jpeg = testimages::jpeg(32, 32, 1);
    QByteArray noStart = jpeg;
    noStart[1] = 0;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    testimages::picture(8, 8).save(&buffer, "PNG");
    QTest::newRow("nothing") << QByteArray();
    QTest::newRow("text") << QByteArray("not a picture, but complete");
    QTest::newRow("start marker only") << QByteArray("\xFF\xD8\xFF");
    QTest::newRow("no start marker") << noStart;
    QTest::newRow("PNG") << png;
    QTest::newRow("headers only") << jpeg.first(jpeg.indexOf("\xFF\xC0"));
}

void tst_JpegDecoder::refusesWhatIsNotAPicture()
{
    QFETCH(QByteArray, bytes);
    JpegDecoder decoder;
    QVERIFY(decoder.decode(bytes).isNull());
    QVERIFY(decoder.peekSize(bytes).isEmpty());
}

void tst_JpegDecoder::refusesHugePicturesFromTheHeaderAlone()
{
    const QByteArray jpeg = testimages::jpeg(32, 32, 1);
    JpegDecoder decoder;
    for (const QSize size :
         {QSize(65500, 65500), QSize(8192, 8192), QSize(4097, 4096), QSize(60000, 2000)}) {
        const QByteArray huge = withDeclaredSize(jpeg, size.width(), size.height());
        QCOMPARE(decoder.peekSize(huge), size);
        const size_t before = heapInUse();
        QVERIFY(decoder.decode(huge).isNull());
        QVERIFY(heapInUse() < before + 4 * 1024 * 1024);
    }
}

void tst_JpegDecoder::truncatedPictureStillDecodes()
{
    // libjpeg-turbo only warns about missing data; like the system decoders
    // the client sees a picture whose lower part is grey.
    const QImage picture = testimages::picture(64, 64, 2);
    const QByteArray jpeg = encode(picture, 90, false);
    JpegDecoder decoder;
    const QImage whole = decoder.decode(jpeg);
    const QImage cut = decoder.decode(QByteArrayView(jpeg).first(jpeg.size() * 3 / 4));
    QCOMPARE(cut.size(), picture.size());
    QCOMPARE(maxDifference(cut.copy(0, 0, 64, 8), whole.copy(0, 0, 64, 8)), 0);
}

void tst_JpegDecoder::oneDecoderServesManyPictures()
{
    JpegDecoder decoder;
    for (int i = 0; i < 20; ++i) {
        if (i % 3 == 1)
            QVERIFY(decoder.decode("\xFF\xD8 broken \xFF\xD9").isNull()); // a failure in between
        if (i % 5 == 2) // beyond what libjpeg reads at all: an error inside the header
            QVERIFY(
                decoder.decode(withDeclaredSize(testimages::jpeg(8, 8), 65535, 65535)).isNull());
        const QByteArray jpeg = testimages::jpeg(16 + i, 16 + 2 * i, i);
        const QImage image = decoder.decode(jpeg);
        QCOMPARE(image.size(), QSize(16 + i, 16 + 2 * i));
        QCOMPARE(maxDifference(image, QImage::fromData(jpeg).convertToFormat(QImage::Format_RGB32)),
                 0);
    }
}

void tst_JpegDecoder::damagedPictureShowsGreyNotOldMemory()
{
    // A progressive picture cut short: at many cuts libjpeg-turbo 2.1 calls
    // the failure a warning, as for any truncated picture, and yet leaves
    // rows it never wrote.
    const QByteArray jpeg = encode(testimages::picture(64, 64, 3), 90, true);
    const QRgb oldColours[2] = {qRgb(1, 2, 3), qRgb(250, 3, 251)};
    JpegDecoder decoder;
    int decoded = 0;
    for (qsizetype cut = 160; cut < jpeg.size(); cut += 23) {
        QImage pictures[2];
        for (int i = 0; i < 2; ++i) {
            // Freed memory of the picture's size, in a colour no decode
            // makes, where the allocator will likely find the next picture.
            {
                QImage old(64, 64, QImage::Format_RGB32);
                old.fill(oldColours[i]);
            }
            // And a picture of that colour that the decoder kept for reuse.
            {
                QImage old(64, 64, QImage::Format_RGB32);
                old.fill(oldColours[i]);
                QVERIFY(!decoder.decode(encode(old, 100, false)).isNull());
            }
            pictures[i] = decoder.decode(QByteArrayView(jpeg).first(cut));
        }
        QCOMPARE(pictures[1], pictures[0]);
        if (pictures[0].isNull())
            continue;
        ++decoded;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const QRgb p = pictures[0].pixel(x, y);
                const auto near = [p](QRgb c) {
                    return std::abs(qRed(p) - qRed(c)) <= 2 &&
                           std::abs(qGreen(p) - qGreen(c)) <= 2 &&
                           std::abs(qBlue(p) - qBlue(c)) <= 2;
                };
                QVERIFY2(!near(oldColours[0]) && !near(oldColours[1]),
                         qPrintable(QStringLiteral("cut at %1").arg(cut)));
            }
    }
    QVERIFY(decoded > 0);

    // A baseline picture cut short keeps the rows its data covers.
    const QByteArray baseline = encode(testimages::picture(64, 64, 3), 90, false);
    const QImage whole = decoder.decode(baseline);
    QCOMPARE(
        decoder.decode(QByteArrayView(baseline).first(baseline.size() * 3 / 4)).copy(0, 0, 64, 8),
        whole.copy(0, 0, 64, 8));
}

void tst_JpegDecoder::noPictureBorrowsTheTablesOfAnother()
{
    // libjpeg keeps a picture's tables for the next one it reads; a part
    // without its own must not decode with those of the frame before it.
    const QByteArray jpeg = testimages::jpeg(32, 24, 4);
    const QByteArray tableless = withoutQuantTables(jpeg);
    QVERIFY(tableless.size() < jpeg.size());
    JpegDecoder decoder;
    QCOMPARE(decoder.decode(jpeg).size(), QSize(32, 24));
    QVERIFY(decoder.decode(tableless).isNull());
    QCOMPARE(decoder.decode(jpeg).size(), QSize(32, 24));
}

void tst_JpegDecoder::reusesFrameMemoryOnlyWhenNobodyHoldsIt()
{
    const QByteArray jpegs[3] = {testimages::jpeg(48, 32, 1), testimages::jpeg(48, 32, 2),
                                 testimages::jpeg(48, 32, 3)};
    const auto expected = [&](int i) {
        return QImage::fromData(jpegs[i]).convertToFormat(QImage::Format_RGB32);
    };
    JpegDecoder decoder;

    // Pictures still held (the view shows one, a test keeps a list) are
    // never written again, however many come after them.
    QList<QImage> held;
    for (int i = 0; i < 6; ++i)
        held.append(decoder.decode(jpegs[i % 3]));
    for (int i = 0; i < 6; ++i)
        QCOMPARE(maxDifference(held[i], expected(i % 3)), 0);

    // A picture let go is the memory of the next one of its size.
    held.clear();
    decoder.releaseReusedImages();
    QImage first = decoder.decode(jpegs[0]);
    const uchar *const memory = first.constBits();
    first = QImage();
    QImage second = decoder.decode(jpegs[1]);
    QCOMPARE(second.constBits(), memory);
    QCOMPARE(maxDifference(second, expected(1)), 0);

    // While the second is shown, the third goes elsewhere; then they take turns.
    const QImage third = decoder.decode(jpegs[2]);
    QVERIFY(third.constBits() != memory);
    QCOMPARE(maxDifference(second, expected(1)), 0);
    QCOMPARE(maxDifference(third, expected(2)), 0);
    second = QImage();
    const QImage fourth = decoder.decode(jpegs[0]);
    QCOMPARE(fourth.constBits(), memory);
    QCOMPARE(maxDifference(third, expected(2)), 0);
    QCOMPARE(maxDifference(fourth, expected(0)), 0);

    // Another size takes new memory, and the kept pictures can be let go.
    QCOMPARE(decoder.decode(testimages::jpeg(32, 48, 1)).size(), QSize(32, 48));
    decoder.releaseReusedImages();
    QCOMPARE(maxDifference(fourth, expected(0)), 0);
}

QTEST_GUILESS_MAIN(tst_JpegDecoder)
#include "tst_JpegDecoder.moc"
