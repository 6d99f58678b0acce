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
} // namespace

std::uint32_t Histogram::peak(Channel channel) const
{
    const Counts &c = counts[channel];
    return *std::max_element(c.begin(), c.end());
}

Histogram histogramOf(const QImage &frame, const QRect &rect, int step)
{
    Histogram h;
    const QRect area = rect.intersected(frame.rect());
    if (area.isEmpty())
        return h;
    const QImage image = asRgb32(frame);
    auto &lum = h.counts[Histogram::Luminance];
    auto &red = h.counts[Histogram::Red];
    auto &green = h.counts[Histogram::Green];
    auto &blue = h.counts[Histogram::Blue];
    step = std::max(step, 1);
    std::uint64_t clipped = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        if ((y - area.top()) % step == 0)
            for (int x = area.left(); x <= area.right(); x += step) {
                const QRgb p = row[x];
                const int r = qRed(p), g = qGreen(p), b = qBlue(p);
                ++red[r];
                ++green[g];
                ++blue[b];
                ++lum[luminance(r, g, b)];
            }
        for (int x = area.left(); x <= area.right(); ++x)
            clipped += isClipped(row[x]);
    }
    h.pixels = std::uint64_t(area.width()) * std::uint64_t(area.height());
    h.clipped = clipped;
    return h;
}

QImage clippedMask(const QImage &frame, const QRect &rect)
{
    if (frame.isNull())
        return {};
    QImage mask(frame.size(), QImage::Format_Alpha8);
    mask.fill(0);
    const QRect area = rect.intersected(frame.rect());
    if (area.isEmpty())
        return mask;
    const QImage image = asRgb32(frame);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        uchar *out = mask.scanLine(y);
        for (int x = area.left(); x <= area.right(); ++x)
            out[x] = isClipped(row[x]) ? 255 : 0;
    }
    return mask;
}

} // namespace analysis
