#include "support/TestImages.h"

#include <QBuffer>
#include <QPainter>

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

} // namespace testimages
