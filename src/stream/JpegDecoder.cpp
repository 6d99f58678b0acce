#include "stream/JpegDecoder.h"

#include "platform/BilinearShrink.h"

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
    return readHeader(jpeg).size;
}

JpegDecoder::Header JpegDecoder::readHeader(QByteArrayView jpeg)
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
    return {{width, height}, subsampling, colorspace};
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
    for (std::vector<unsigned char> &plane : m_planes)
        std::vector<unsigned char>().swap(plane);
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
    const Header header = readHeader(jpeg);
    const QSize frameSize = header.size;
    if (frameSize.isEmpty() || qint64(frameSize.width()) * frameSize.height() > kMaxPixels)
        return {};
    // tjDecompress2 picks the scale whose size fits in the width and height
    // it is given: exactly this one, as its sizes are the ones computed here.
    const QSize size = decodedSize(frameSize, atLeast);
    if (shrinksItself(header, size, atLeast))
        return decodeShrunk(jpeg, header, size, atLeast);
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
    if (!decodedWell(decompress, [&] { image.fill(qRgb(128, 128, 128)); }))
        return {};
    keepImage(image);
    return image;
}

bool JpegDecoder::shrinksItself(const Header &header, QSize scaled, QSize atLeast)
{
    // Only what the bilinear pass shows as well as a filtered paint would:
    // a shrink of at most two, of the YCbCr pictures the box sends, on the
    // little-endian targets whose RGB32 it writes.
    const bool ycbcr = header.colorspace == TJCS_YCbCr &&
                       (header.subsampling == TJSAMP_444 || header.subsampling == TJSAMP_422 ||
                        header.subsampling == TJSAMP_420 || header.subsampling == TJSAMP_440 ||
                        header.subsampling == TJSAMP_411);
    return ycbcr && QSysInfo::ByteOrder == QSysInfo::LittleEndian && !atLeast.isEmpty() &&
           atLeast != scaled && atLeast.width() <= scaled.width() &&
           atLeast.height() <= scaled.height() && scaled.width() <= 2 * atLeast.width() &&
           scaled.height() <= 2 * atLeast.height();
}

QImage JpegDecoder::decodeShrunk(QByteArrayView jpeg, const Header &header, QSize scaled,
                                 QSize size)
{
    // The planes as the inverse DCT leaves them, before libjpeg-turbo
    // upsamples the chroma and converts every pixel of the scaled size: the
    // shrink then samples and converts only the pixels shown.
    platform::YcbcrPlanes planes;
    planes.picture = scaled;
    unsigned char *planeData[3];
    // Chroma samples span the MCU's size over 8 pixels: 2 x 2 for 4:2:0.
    const QSize chromaFactor(tjMCUWidth[header.subsampling] / 8,
                             tjMCUHeight[header.subsampling] / 8);
    for (int i = 0; i < 3; ++i) {
        const int width = tjPlaneWidth(i, scaled.width(), header.subsampling);
        const int height = tjPlaneHeight(i, scaled.height(), header.subsampling);
        if (width <= 0 || height <= 0)
            return {};
        m_planes[i].resize(std::size_t(width) * std::size_t(height));
        planeData[i] = m_planes[i].data();
        planes.data[i] = planeData[i];
        planes.stride[i] = width;
        planes.size[i] = QSize(width, height);
        planes.factor[i] = i == 0 ? QSize(1, 1) : chromaFactor;
    }
    const auto decompress = [&] {
        return tjDecompressToYUVPlanes(static_cast<tjhandle>(m_handle),
                                       reinterpret_cast<const unsigned char *>(jpeg.data()),
                                       static_cast<unsigned long>(jpeg.size()), planeData,
                                       scaled.width(), planes.stride, scaled.height(), 0);
    };
    const auto fillGrey = [&] {
        for (std::vector<unsigned char> &plane : m_planes)
            std::fill(plane.begin(), plane.end(), 128); // mid-grey, no colour
    };
    if (!decodedWell(decompress, fillGrey))
        return {};
    QImage image = platform::bilinearShrinkYcbcr(planes, size, takeImage(size));
    if (image.isNull())
        return {};
    keepImage(image);
    return image;
}

template <typename Decompress, typename FillGrey>
bool JpegDecoder::decodedWell(const Decompress &decompress, const FillGrey &fillGrey)
{
    if (decompress() == 0)
        return true;
    // A warning (a damaged but readable picture) still gives an image, as
    // the system decoders do; a fatal error gives none.
    if (!m_handle || tjGetErrorCode(static_cast<tjhandle>(m_handle)) != TJERR_WARNING)
        return false;
    // But libjpeg-turbo 2.1 goes on calling it a warning when a fatal error
    // followed the warning, and then the rows after the error are never
    // written. Decode once more over mid-grey, from a clean state, so that
    // whatever the data does not cover is grey and not old memory.
    fillGrey();
    resetHandle();
    decompress();
    return true;
}
