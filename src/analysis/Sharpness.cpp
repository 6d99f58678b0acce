#include "analysis/Sharpness.h"

#include <cstdint>
#include <vector>

namespace analysis
{

namespace
{
// Grey level with four bits of fraction (0..4080), so that a dim star field
// keeps its gradients; the Sobel sums then stay within 32 bits.
inline std::int32_t grey(QRgb p)
{
    return (qRed(p) * 77 + qGreen(p) * 150 + qBlue(p) * 29) >> 4;
}

void greyRow(const uchar *row, int x0, int width, std::int32_t *out)
{
    const QRgb *px = reinterpret_cast<const QRgb *>(row) + x0;
    for (int x = 0; x < width; ++x)
        out[x] = grey(px[x]);
}
} // namespace

Sharpness measureSharpness(const uchar *bits, qsizetype bytesPerLine, const QRect &region)
{
    Sharpness result;
    result.region = region;
    const int w = region.width();
    const int h = region.height();
    if (!bits || w < 3 || h < 3)
        return result;

    // Three grey rows in a ring: above, current, below.
    std::vector<std::int32_t> store(size_t(w) * 3);
    std::int32_t *rows[3] = {store.data(), store.data() + w, store.data() + 2 * w};
    const auto rowAt = [&](int y) { return bits + qsizetype(region.top() + y) * bytesPerLine; };
    greyRow(rowAt(0), region.left(), w, rows[0]);
    greyRow(rowAt(1), region.left(), w, rows[1]);

    std::int64_t levelSum = 0;
    for (int x = 0; x < w; ++x)
        levelSum += rows[0][x];
    std::int64_t energy = 0;
    for (int y = 1; y < h - 1; ++y) {
        greyRow(rowAt(y + 1), region.left(), w, rows[2]);
        const std::int32_t *a = rows[0], *b = rows[1], *c = rows[2];
        std::int64_t rowEnergy = 0;
        for (int x = 1; x < w - 1; ++x) {
            const std::int32_t gx =
                (a[x + 1] + 2 * b[x + 1] + c[x + 1]) - (a[x - 1] + 2 * b[x - 1] + c[x - 1]);
            const std::int32_t gy =
                (c[x - 1] + 2 * c[x] + c[x + 1]) - (a[x - 1] + 2 * a[x] + a[x + 1]);
            // Each square is below 2^28, their sum below 2^29.
            rowEnergy += std::uint32_t(gx * gx) + std::uint32_t(gy * gy);
        }
        energy += rowEnergy;
        for (int x = 0; x < w; ++x)
            levelSum += b[x];
        std::int32_t *oldest = rows[0];
        rows[0] = rows[1];
        rows[1] = rows[2];
        rows[2] = oldest;
    }
    for (int x = 0; x < w; ++x)
        levelSum += rows[1][x];

    const double mean = double(levelSum) / (double(w) * h); // in sixteenths of a grey level
    result.brightness = mean / 16.0;
    if (mean < 1.0) // black: nothing to judge
        return result;
    const double meanEnergy = double(energy) / (double(w - 2) * (h - 2));
    result.score = meanEnergy / (mean * mean);
    return result;
}

Sharpness measureSharpness(const QImage &frame, const QRect &region)
{
    const QRect clipped = region.intersected(frame.rect());
    // The one place that reaches for a frame's pixels: the frame must be
    // full-size here, never the preview's reduced decode.
    if (frame.format() == QImage::Format_RGB32 || frame.format() == QImage::Format_ARGB32)
        return measureSharpness(frame.constBits(), frame.bytesPerLine(), clipped);
    const QImage part = frame.copy(clipped).convertToFormat(QImage::Format_RGB32);
    Sharpness s = measureSharpness(part.constBits(), part.bytesPerLine(), part.rect());
    s.region = clipped;
    return s;
}

} // namespace analysis
