// The JPEG decoder, which gets every complete part of the stream, whatever the
// camera box (or anything pretending to be it) put in it.
//
// Checked on every input: a picture comes out in the size its header gives,
// as RGB32 and within the pixel cap; asked for a smaller size, as the live
// view asks, it comes at that size or at the scale that covers it; decoding
// the same bytes again gives the same picture; and afterwards the same decoder still decodes a good
// picture exactly as it did before, so that no bad input spoils it for the frames that follow.

#include "stream/JpegDecoder.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImageWriter>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_jpeg_decoder: %s\n", what);
    std::abort();
}

bool samePixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.format() != b.format())
        return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(a.width()) * 4) != 0)
            return false;
    return true;
}

JpegDecoder *g_decoder = nullptr;
QByteArray g_goodJpeg;
QImage g_goodImage;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    QImage picture(40, 24, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x * 6, y * 10, (x ^ y) * 8));
    QBuffer buffer(&g_goodJpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "JPEG");
    if (!writer.write(picture))
        fail("cannot encode the reference picture");
    static JpegDecoder decoder;
    g_decoder = &decoder;
    g_goodImage = decoder.decode(g_goodJpeg);
    if (g_goodImage.size() != picture.size())
        fail("the reference picture does not decode");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView jpeg(reinterpret_cast<const char *>(data), qsizetype(size));
    JpegDecoder &decoder = *g_decoder;

    const QSize declared = decoder.peekSize(jpeg);
    const QImage image = decoder.decode(jpeg);
    if (!image.isNull()) {
        if (image.size() != declared || image.format() != QImage::Format_RGB32 ||
            qint64(image.width()) * image.height() > JpegDecoder::kMaxPixels)
            fail("a picture of another size or format than its header gives");
        if (!samePixels(image, decoder.decode(jpeg)))
            fail("the same bytes decoded twice gave two pictures");
    }
    // As the live view asks: two thirds of the picture, which goes through
    // the decoder's own shrink from the planes for YCbCr pictures.
    if (!declared.isEmpty()) {
        const QSize shown(declared.width() * 2 / 3 + 1, declared.height() * 2 / 3 + 1);
        const QImage small = decoder.decode(jpeg, shown);
        if (!small.isNull()) {
            if ((small.size() != shown &&
                 small.size() != JpegDecoder::decodedSize(declared, shown)) ||
                small.format() != QImage::Format_RGB32)
                fail("a picture for the view of another size or format than asked");
            if (!samePixels(small, decoder.decode(jpeg, shown)))
                fail("the same bytes shrunk twice gave two pictures");
        }
    }
    if (!samePixels(decoder.decode(g_goodJpeg), g_goodImage))
        fail("a bad input spoiled the decoder for the next picture");
    return 0;
}
