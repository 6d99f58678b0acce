#include "stream/JpegDecoder.h"

#include <turbojpeg.h>

#include <limits>
#include <utility>

JpegDecoder::JpegDecoder() : m_handle(tjInitDecompress()) {}

JpegDecoder::~JpegDecoder()
{
    if (m_handle)
        tjDestroy(static_cast<tjhandle>(m_handle));
}

QSize JpegDecoder::peekSize(QByteArrayView jpeg)
{
    if (!m_handle || jpeg.size() < 4 ||
        quint64(jpeg.size()) > std::numeric_limits<unsigned long>::max())
        return {};
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(static_cast<tjhandle>(m_handle),
                            reinterpret_cast<const unsigned char *>(jpeg.data()),
                            static_cast<unsigned long>(jpeg.size()), &width, &height, &subsampling,
                            &colorspace) != 0 ||
        width <= 0 || height <= 0) {
        // An error inside the header leaves the handle half-way through that
        // picture (libjpeg-turbo 2.1), and every later call then fails with
        // "two SOI markers": start over with a fresh handle.
        resetHandle();
        return {};
    }
    return {width, height};
}

void JpegDecoder::resetHandle()
{
    if (m_handle)
        tjDestroy(static_cast<tjhandle>(m_handle));
    m_handle = tjInitDecompress();
}

QImage JpegDecoder::takeImage(QSize size)
{
    for (QImage &kept : m_reused) {
        // Detached: this copy is the only one, so nobody sees the rewrite.
        if (kept.size() == size && kept.isDetached())
            return std::exchange(kept, QImage());
    }
    return QImage(size, QImage::Format_RGB32);
}

void JpegDecoder::keepImage(const QImage &image)
{
    for (QImage &kept : m_reused) {
        if (kept.isNull()) {
            kept = image;
            return;
        }
    }
    m_reused[m_nextReused] = image;
    m_nextReused = (m_nextReused + 1) % kReusedImages;
}

void JpegDecoder::releaseReusedImages()
{
    for (QImage &kept : m_reused)
        kept = QImage();
}

QSize JpegDecoder::decodedSize(QSize frameSize, QSize atLeast)
{
    // Smallest first. These three have SIMD inverse DCTs in libjpeg-turbo;
    // its other eighths fall back to plain C and save little.
    for (const int denominator : {8, 4, 2}) {
        const QSize scaled((frameSize.width() + denominator - 1) / denominator,
                           (frameSize.height() + denominator - 1) / denominator);
        if (scaled.width() >= atLeast.width() && scaled.height() >= atLeast.height())
            return scaled;
    }
    return frameSize;
}

QImage JpegDecoder::decode(QByteArrayView jpeg, QSize atLeast)
{
    // A fresh handle for every picture, a few microseconds next to the
    // decode: libjpeg keeps the tables of one picture for the next, and a
    // picture that lacks one would borrow it from whatever came before.
    resetHandle();
    const QSize frameSize = peekSize(jpeg);
    if (frameSize.isEmpty() || qint64(frameSize.width()) * frameSize.height() > kMaxPixels)
        return {};
    // tjDecompress2 picks the scale whose size fits in the width and height
    // it is given: exactly this one, as its sizes are the ones computed here.
    const QSize size = decodedSize(frameSize, atLeast);
    QImage image = takeImage(size);
    if (image.isNull())
        return {};
    const auto decompress = [&] {
        // Format_RGB32 is 0xffRRGGBB in native byte order: B, G, R, A in
        // memory on little-endian machines. libjpeg-turbo fills the alpha
        // byte with 0xff.
        const int format = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? TJPF_BGRA : TJPF_ARGB;
        return tjDecompress2(static_cast<tjhandle>(m_handle),
                             reinterpret_cast<const unsigned char *>(jpeg.data()),
                             static_cast<unsigned long>(jpeg.size()), image.bits(), size.width(),
                             int(image.bytesPerLine()), size.height(), format, 0);
    };
    if (decompress() == 0) {
        keepImage(image);
        return image;
    }
    // A warning (a damaged but readable picture) still gives an image, as
    // the system decoders do; a fatal error gives none.
    if (!m_handle || tjGetErrorCode(static_cast<tjhandle>(m_handle)) != TJERR_WARNING)
        return {};
    // But libjpeg-turbo 2.1 goes on calling it a warning when a fatal error
    // followed the warning, and then the rows after the error are never
    // written. Decode once more over mid-grey, from a clean state, so that
    // whatever the data does not cover is grey and not old memory.
    image.fill(qRgb(128, 128, 128));
    resetHandle();
    decompress();
    keepImage(image);
    return image;
}
