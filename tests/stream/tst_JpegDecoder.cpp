#include "stream/JpegDecoder.h"

#include "platform/BilinearShrink.h"

#include "support/ProcessFigures.h"
#include "support/TestImages.h"

#include <QBuffer>
#include <QImageWriter>
#include <QTest>

#include <turbojpeg.h>

namespace
{

QByteArray progressive(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    QImageWriter writer(&buffer, "JPEG");
    writer.setProgressiveScanWrite(true);
    return writer.write(image) ? bytes : QByteArray();
}

// image (Format_RGB32) as libjpeg-turbo encodes it with this chroma
// subsampling (TJSAMP_*).
QByteArray encoded(const QImage &image, int subsampling)
{
    tjhandle handle = tjInitCompress();
    unsigned char *bytes = nullptr;
    unsigned long size = 0;
    const bool done =
        tjCompress2(handle, image.constBits(), image.width(), int(image.bytesPerLine()),
                    image.height(), TJPF_BGRX, &bytes, &size, subsampling, 90, 0) == 0;
    const QByteArray jpeg =
        done ? QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(size)) : QByteArray();
    tjFree(bytes);
    tjDestroy(handle);
    return jpeg;
}

// As the system decoder makes the picture of jpeg, pixel for pixel.
bool decodedAs(const QImage &image, const QByteArray &jpeg)
{
    return image == QImage::fromData(jpeg).convertToFormat(QImage::Format_RGB32);
}

} // namespace

class tst_JpegDecoder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decode_data();
    void decode();
    void decodesAtTheSizeAskedFor_data();
    void decodesAtTheSizeAskedFor();
    void damagedPictureShowsGreyNotOldMemory();
    void reusesFrameMemoryOnlyWhenNobodyHoldsIt();
};

void tst_JpegDecoder::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("picture");
    const QByteArray jpeg = testimages::jpeg(32, 32, 1);
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    QTest::newRow("odd size 33x17") << testimages::jpeg(33, 17, 2) << true;
    QTest::newRow("progressive") << progressive(testimages::picture(320, 240, 6)) << true;
    QTest::newRow("headers only") << jpeg.left(sof) << false;
    // No tables of its own: it must not borrow those of the picture before.
    QTest::newRow("no quantisation tables")
        << jpeg.left(jpeg.indexOf("\xFF\xDB")) + jpeg.mid(sof) << false;
    // Refused from the header alone, before any pixel memory is taken.
    const auto declaring = [&](const char *heightWidth) {
        return QByteArray(jpeg).replace(sof + 5, 4, QByteArray::fromHex(heightWidth));
    };
    QTest::newRow("4097 x 4096") << declaring("10001001") << false;
    QTest::newRow("65535 x 65535") << declaring("ffffffff") << false;
}

void tst_JpegDecoder::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, picture);
    JpegDecoder decoder;
    const QByteArray before = testimages::jpeg(48, 32, 2);
    QVERIFY(decodedAs(decoder.decode(before), before));
    const qint64 heapBefore = processfigures::heapInUse();
    const QImage image = decoder.decode(bytes);
    QVERIFY(processfigures::heapInUse() < heapBefore + (16 << 20));
    QCOMPARE(image.isNull(), !picture);
    QVERIFY(!picture || (decodedAs(image, bytes) && image.format() == QImage::Format_RGB32));
    QVERIFY(!picture || decoder.peekSize(bytes) == image.size());
    QVERIFY(decodedAs(decoder.decode(before), before)); // nothing of it spoils the next
}

void tst_JpegDecoder::decodesAtTheSizeAskedFor_data()
{
    QTest::addColumn<QByteArray>("jpeg");
    QTest::addColumn<QSize>("atLeast");
    QTest::addColumn<QSize>("scaled"); // the inverse DCT's scale
    QTest::addColumn<QSize>("decoded");
    const QByteArray colour = testimages::jpeg(640, 360, 4);
    QTest::newRow("exactly 1/8") << colour << QSize(80, 45) << QSize(80, 45) << QSize(80, 45);
    QTest::newRow("a pixel wider: 1/4, shrunk")
        << colour << QSize(81, 45) << QSize(160, 90) << QSize(81, 45);
    QTest::newRow("1/2, shrunk") << colour << QSize(161, 90) << QSize(320, 180) << QSize(161, 90);
    QTest::newRow("a pixel taller than 1/2: full, shrunk")
        << colour << QSize(320, 181) << QSize(640, 360) << QSize(320, 181);
    QTest::newRow("more than twice smaller than 1/8: left to the view")
        << colour << QSize(39, 23) << QSize(80, 45) << QSize(80, 45);
    QTest::newRow("full size") << colour << JpegDecoder::kFullSize << QSize(640, 360)
                               << QSize(640, 360);
    QTest::newRow("sides round up")
        << testimages::jpeg(1001, 501, 4) << QSize(126, 63) << QSize(126, 63) << QSize(126, 63);
    // Odd sizes, each chroma layout: the planes are padded past the picture.
    const QImage odd = testimages::picture(613, 407, 9);
    for (const auto &[name, subsampling] : {std::pair{"4:4:4", TJSAMP_444},
                                            {"4:2:2", TJSAMP_422},
                                            {"4:2:0", TJSAMP_420},
                                            {"4:4:0", TJSAMP_440},
                                            {"4:1:1", TJSAMP_411},
                                            {"grey, not shrunk", TJSAMP_GRAY}}) {
        QTest::newRow(name) << encoded(odd, subsampling) << QSize(400, 260) << QSize(613, 407)
                            << (subsampling == TJSAMP_GRAY ? QSize(613, 407) : QSize(400, 260));
    }
}

void tst_JpegDecoder::decodesAtTheSizeAskedFor()
{
    QFETCH(QByteArray, jpeg);
    QFETCH(QSize, atLeast);
    QFETCH(QSize, scaled);
    QFETCH(QSize, decoded);
    JpegDecoder decoder;
    const QImage full = decoder.decode(jpeg);
    QCOMPARE(JpegDecoder::decodedSize(full.size(), atLeast), scaled);
    const QImage image = decoder.decode(jpeg, atLeast);
    QCOMPARE(image.size(), decoded);
    // The same picture, smaller: close to the full decode area-averaged (the
    // filters part most, by up to 45, at the mark's hard white edge).
    QVERIFY(testimages::maxDifference(image, full.scaled(decoded, Qt::IgnoreAspectRatio,
                                                         Qt::SmoothTransformation)) <= 48);
    // Shrunk from the planes before the colour conversion, it is what the
    // view's own shrink of the converted picture shows: the same but for a
    // few levels where colour changes sharply (the mark), as the chroma is
    // sampled by another filter than libjpeg-turbo's upsampling.
    const QImage converted = decoder.decode(jpeg, scaled);
    QCOMPARE(converted.size(), scaled);
    const QImage expected = platform::bilinearShrink(converted, decoded);
    QVERIFY(testimages::maxDifference(image, expected) <= 16);
    const qsizetype apart = testimages::pixelsApart(image, expected, 2);
    QVERIFY2(apart * 20 <= image.width() * image.height(), qPrintable(QString::number(apart)));
}

void tst_JpegDecoder::damagedPictureShowsGreyNotOldMemory()
{
    // Cut short, a progressive picture leaves rows libjpeg-turbo 2.1 never writes.
    const QByteArray jpeg = progressive(testimages::picture(64, 64, 3));
    QImage old(64, 64, QImage::Format_RGB32);
    old.fill(qRgb(250, 3, 251));
    JpegDecoder decoder;
    // Converted whole, and shrunk from the planes (the memory kept is then
    // the planes').
    for (const QSize atLeast : {JpegDecoder::kFullSize, QSize(40, 40)}) {
        int decoded = 0;
        for (qsizetype cut = 160; cut < jpeg.size(); cut += 23) {
            // A colour no decode makes, let go.
            QVERIFY(!decoder.decode(progressive(old), atLeast).isNull());
            const QImage damaged = decoder.decode(QByteArrayView(jpeg).first(cut), atLeast);
            decoded += !damaged.isNull();
            for (int y = 0; y < damaged.height(); ++y)
                QVERIFY2(qRed(damaged.pixel(0, y)) < 200, // red is 0 there, grey 128
                         qPrintable(QStringLiteral("cut at %1, row %2").arg(cut).arg(y)));
        }
        QVERIFY(decoded > 0);
    }
}

void tst_JpegDecoder::reusesFrameMemoryOnlyWhenNobodyHoldsIt()
{
    const QByteArray jpegs[] = {testimages::jpeg(48, 32, 1), testimages::jpeg(48, 32, 2)};
    JpegDecoder decoder;
    // Pictures let go are the memory of the next ones of their size, in turn;
    // one still held (the view shows it) is never written again.
    QList<QImage> held = {decoder.decode(jpegs[0]), decoder.decode(jpegs[1])};
    const uchar *const memory[] = {held[0].constBits(), held[1].constBits()};
    held.clear();
    const QImage next[] = {decoder.decode(jpegs[1]), decoder.decode(jpegs[0])};
    QVERIFY(next[0].constBits() == memory[0] && next[1].constBits() == memory[1]);
    const QImage third = decoder.decode(jpegs[0]);
    QVERIFY(third.constBits() != memory[0] && third.constBits() != memory[1]);
    QVERIFY(decodedAs(next[0], jpegs[1]) && decodedAs(next[1], jpegs[0]));
}

QTEST_GUILESS_MAIN(tst_JpegDecoder)
#include "tst_JpegDecoder.moc"
