#include "capture/ImageBuffer.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace
{

// Opaque black as one ARGB pixel in memory order.
const quint32 kOpaqueBlack = qToBigEndian(quint32(0xff000000));

void fill(quint32 *pixels, qsizetype count)
{
    std::fill_n(pixels, count, kOpaqueBlack);
}

// A truncated side, or -1 when the value cannot be a side at all.
int truncatedSide(double value)
{
    if (!(value >= 1.0) || value >= double(PixelBuffer::kMaxSide) + 1.0) // also catches NaN
        return -1;
    return int(std::trunc(value));
}

} // namespace

std::unique_ptr<PixelBuffer> pixelBufferRefWithSize(const QImage &image, QSizeF size)
{
    const int width = truncatedSide(size.width());
    const int height = truncatedSide(size.height());
    if (width < 0 || height < 0)
        return {};
    auto buffer = PixelBuffer::create(width, height);
    if (!buffer)
        return {};
    drawFrameIntoPixelBuffer(image, *buffer);
    return buffer;
}

void drawFrameIntoPixelBuffer(const QImage &image, PixelBuffer &buffer)
{
    const int width = buffer.width();
    const int height = buffer.height();
    // Our frames are RGB32 from the JPEG decoder; anything else goes through
    // Qt's premultiplied ARGB once. Both hold one native-endian 0xAARRGGBB
    // word per pixel. RGB32 promises an alpha of 0xff, but a frame built over
    // foreign memory may not keep it, so it is set here.
    QImage source = image;
    if (!source.isNull() && source.format() != QImage::Format_RGB32 &&
        source.format() != QImage::Format_ARGB32_Premultiplied)
        source = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const quint32 alphaMask = source.format() == QImage::Format_RGB32 ? 0xff000000u : 0u;

    const int drawWidth = source.isNull() ? 0 : std::min(source.width(), width);
    const int drawHeight = source.isNull() ? 0 : std::min(source.height(), height);
    // Bottom-left anchoring: the frame's last row lands on the buffer's last row.
    const int firstBufferRow = height - drawHeight;
    const int firstFrameRow = source.isNull() ? 0 : source.height() - drawHeight;

    for (int y = 0; y < firstBufferRow; ++y)
        fill(reinterpret_cast<quint32 *>(buffer.row(y)), width);
    for (int i = 0; i < drawHeight; ++i) {
        const auto *in = reinterpret_cast<const quint32 *>(source.constScanLine(firstFrameRow + i));
        auto *out = reinterpret_cast<quint32 *>(buffer.row(firstBufferRow + i));
        // 0xAARRGGBB stored big-endian is the byte order A, R, G, B.
        for (int x = 0; x < drawWidth; ++x)
            out[x] = qToBigEndian(quint32(in[x] | alphaMask));
        fill(out + drawWidth, width - drawWidth);
    }
}
