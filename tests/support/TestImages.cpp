#include "support/TestImages.h"

#include <QBuffer>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

namespace testimages
{

QImage picture(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = qRgb((x * 255) / std::max(1, width - 1), (y * 255) / std::max(1, height - 1),
                          (seed * 37) & 0xff);
    }
    QPainter painter(&image);
    painter.fillRect((seed * 13) % std::max(1, width - 8), height / 2, 8, 8, Qt::white);
    return image;
}

QByteArray jpeg(int width, int height, int seed)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture(width, height, seed).save(&buffer, "JPEG", 90);
    return bytes;
}

namespace
{
// The largest difference of a colour channel at each pixel, to each().
template <typename Each> void differences(const QImage &a, const QImage &b, Each each)
{
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            each(std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                           std::abs(qBlue(p) - qBlue(q))}));
        }
}
} // namespace

int maxDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 256;
    int most = 0;
    differences(a, b, [&](int d) { most = std::max(most, d); });
    return most;
}

qsizetype pixelsApart(const QImage &a, const QImage &b, int levels)
{
    if (a.size() != b.size())
        return qsizetype(std::max(a.width(), b.width())) * std::max(a.height(), b.height());
    qsizetype apart = 0;
    differences(a, b, [&](int d) { apart += d > levels; });
    return apart;
}

} // namespace testimages
