#include "platform/PictureAgeOverlay.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace platform
{

void paintPictureAge(QPainter &painter, const QRect &picture, const QString &text)
{
    painter.save();
    painter.setClipRect(picture); // a new frame repaints the picture's rectangle only
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(std::clamp(picture.height() / 24, 11, 28));
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int pad = metrics.height() / 3;
    QRect plate(0, 0, metrics.horizontalAdvance(text) + 2 * pad, metrics.height() + pad);
    plate.moveBottomLeft(picture.bottomLeft() + QPoint(pad, -pad));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 170));
    painter.drawRoundedRect(plate, pad, pad);
    // Amber, as the box's own warning light: it must not pass for part of the sky.
    painter.setPen(QColor(0xff, 0xbf, 0x40));
    painter.drawText(plate, Qt::AlignCenter, text);
    painter.restore();
}

} // namespace platform
