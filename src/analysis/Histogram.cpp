#include "analysis/Histogram.h"

#include <algorithm>

namespace analysis
{

namespace
{
// The frame as 0xffRRGGBB words: the decoder's own format passes as it is,
// anything else is converted once.
QImage asRgb32(const QImage &frame)
{
    if (frame.format() == QImage::Format_RGB32 || frame.format() == QImage::Format_ARGB32)
        return frame;
    return frame.convertToFormat(QImage::Format_RGB32);
}

bool isClipped(QRgb pixel)
{
    return qRed(pixel) == 255 || qGreen(pixel) == 255 || qBlue(pixel) == 255;
}

// Counts the clipped pixels of area (inside image), and marks them in mask,
// an Alpha8 image of image's size, when there is one.
std::uint64_t clippedPass(const QImage &image, const QRect &area, QImage *mask)
{
    std::uint64_t clipped = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        uchar *out = mask ? mask->scanLine(y) : nullptr;
        for (int x = area.left(); x <= area.right(); ++x) {
            const bool c = isClipped(row[x]);
            clipped += c;
            if (out)
                out[x] = c ? 255 : 0;
        }
    }
    return clipped;
}

QImage blankMask(const QImage &frame)
{
    if (frame.isNull())
        return {};
    QImage mask(frame.size(), QImage::Format_Alpha8);
    mask.fill(0);
    return mask;
}
} // namespace

std::uint32_t Histogram::peak(Channel channel) const
{
    const Counts &c = counts[channel];
    return *std::max_element(c.begin(), c.end());
}

Histogram histogramOf(const QImage &frame, const QRect &rect, int step, QImage *clipMask)
{
    Histogram h;
    if (clipMask)
        *clipMask = blankMask(frame);
    const QRect area = rect.intersected(frame.rect());
    if (area.isEmpty())
        return h;
    const QImage image = asRgb32(frame);
    auto &lum = h.counts[Histogram::Luminance];
    auto &red = h.counts[Histogram::Red];
    auto &green = h.counts[Histogram::Green];
    auto &blue = h.counts[Histogram::Blue];
    step = std::max(step, 1);
    for (int y = area.top(); y <= area.bottom(); y += step) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = area.left(); x <= area.right(); x += step) {
            const QRgb p = row[x];
            const int r = qRed(p), g = qGreen(p), b = qBlue(p);
            ++red[r];
            ++green[g];
            ++blue[b];
            ++lum[luminance(r, g, b)];
        }
    }
    h.pixels = std::uint64_t(area.width()) * std::uint64_t(area.height());
    h.clipped = clippedPass(image, area, clipMask);
    return h;
}

QImage clippedMask(const QImage &frame, const QRect &rect)
{
    QImage mask = blankMask(frame);
    const QRect area = rect.intersected(frame.rect());
    if (!area.isEmpty())
        clippedPass(asRgb32(frame), area, &mask);
    return mask;
}

} // namespace analysis
