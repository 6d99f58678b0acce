#include "platform/PreviewOverlays.h"

#include <QPainter>

#include <algorithm>

namespace platform::overlays
{

namespace
{
// The stripes: bands four pixels wide, warning colour and black by turns,
// which stand out on any picture, the purple of a nebula included.
const QImage &stripeTile()
{
    static const QImage tile = [] {
        QImage t(8, 8, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < t.height(); ++y)
            for (int x = 0; x < t.width(); ++x)
                t.setPixel(x, y, (x + y) % 8 < 4 ? kWarningColor : qRgb(0, 0, 0));
        return t;
    }();
    return tile;
}

void paintNightPicture(QPainter &painter, const QRect &picture)
{
    // Only the red channel, a little dimmed: the picture no longer lights the
    // room in white.
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Multiply);
    painter.fillRect(picture, QColor(220, 0, 0));
    painter.restore();
}

void paintClipping(QPainter &painter, const QRect &picture, const QImage &clipMask)
{
    // The mask is taken to the view's size without filtering, so a clipped
    // area keeps its edge, then filled with the stripes.
    QImage layer(picture.size(), QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        p.drawImage(layer.rect(), clipMask);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(layer.rect(), QBrush(stripeTile()));
    }
    painter.drawImage(picture.topLeft(), layer);
}

void paintReticle(QPainter &painter, const QRect &picture, bool night)
{
    // Thin and half transparent: seen against the sky and against the Moon,
    // never a bright line across a dark-adapted eye.
    const QColor colour = night ? QColor(150, 20, 10, 170) : QColor(110, 200, 110, 150);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, 0)); // cosmetic: one pixel whatever the scale
    painter.setBrush(Qt::NoBrush);
    const QPointF centre = QRectF(picture).center();
    const double shorter = std::min(picture.width(), picture.height());
    const double gap = shorter / 40.0; // the centre stays clear for the star
    painter.drawLine(QPointF(picture.left(), centre.y()), QPointF(centre.x() - gap, centre.y()));
    painter.drawLine(QPointF(centre.x() + gap, centre.y()), QPointF(picture.right(), centre.y()));
    painter.drawLine(QPointF(centre.x(), picture.top()), QPointF(centre.x(), centre.y() - gap));
    painter.drawLine(QPointF(centre.x(), centre.y() + gap), QPointF(centre.x(), picture.bottom()));
    for (const double share : {0.08, 0.2, 0.35}) {
        const double r = shorter * share;
        painter.drawEllipse(centre, r, r);
    }
    painter.restore();
}
} // namespace

QTransform viewTransform(const QRect &picture, const PreviewAids &aids)
{
    const bool mirrorX = aids.flipHorizontal != aids.rotate180;
    const bool mirrorY = aids.flipVertical != aids.rotate180;
    if (!mirrorX && !mirrorY)
        return {};
    // The picture's pixels map onto themselves: x goes to left + right - x.
    const double cx = picture.left() + picture.right() + 1;
    const double cy = picture.top() + picture.bottom() + 1;
    return QTransform(mirrorX ? -1 : 1, 0, 0, mirrorY ? -1 : 1, mirrorX ? cx : 0, mirrorY ? cy : 0);
}

void paint(QPainter &painter, const QRect &picture, const QSize &frameSize, const PreviewAids &aids,
           const QImage &clipMask)
{
    if (aids.nightPicture)
        paintNightPicture(painter, picture);
    if (aids.clipping && !clipMask.isNull() && clipMask.size() == frameSize)
        paintClipping(painter, picture, clipMask);
    if (aids.reticle)
        paintReticle(painter, picture, aids.nightMode);
}

} // namespace platform::overlays
