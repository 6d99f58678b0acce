#include "platform/FocusOverlay.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace platform
{

namespace
{
constexpr double kMinSide = 0.03;   // of the frame
constexpr int kCornerGrip = 8;      // pixels of the view around a corner
constexpr double kLoupeShare = 0.4; // of the picture's width and height, at most

QPointF toFraction(QPoint at, const QRect &picture)
{
    return {double(at.x() - picture.left()) / std::max(1, picture.width()),
            double(at.y() - picture.top()) / std::max(1, picture.height())};
}

QRectF onPicture(const QRectF &region, const QRect &picture)
{
    return {picture.left() + region.left() * picture.width(),
            picture.top() + region.top() * picture.height(), region.width() * picture.width(),
            region.height() * picture.height()};
}

QRectF clamped(QRectF r)
{
    r.setWidth(std::clamp(r.width(), kMinSide, 1.0));
    r.setHeight(std::clamp(r.height(), kMinSide, 1.0));
    r.moveLeft(std::clamp(r.left(), 0.0, 1.0 - r.width()));
    r.moveTop(std::clamp(r.top(), 0.0, 1.0 - r.height()));
    return r;
}
} // namespace

FocusOverlay::FocusOverlay(QObject *parent) : QObject(parent) {}

void FocusOverlay::setRegion(const QRectF &region)
{
    const QRectF r = region.isValid() ? clamped(region) : kDefaultRegion;
    if (r == m_region)
        return;
    m_region = r;
    Q_EMIT changed();
}

void FocusOverlay::setRegionVisible(bool visible)
{
    if (visible == m_regionVisible)
        return;
    m_regionVisible = visible;
    m_drag = Drag::None;
    Q_EMIT changed();
}

void FocusOverlay::setLoupeZoom(int zoom)
{
    zoom = (zoom == 1 || zoom == 2 || zoom == 4) ? zoom : 0;
    if (zoom == m_loupeZoom)
        return;
    m_loupeZoom = zoom;
    Q_EMIT changed();
}

QRect FocusOverlay::frameRegion(const QRectF &region, QSize frameSize)
{
    const int w = frameSize.width(), h = frameSize.height();
    QRect r(int(std::lround(region.left() * w)), int(std::lround(region.top() * h)),
            std::max(3, int(std::lround(region.width() * w))),
            std::max(3, int(std::lround(region.height() * h))));
    return r.intersected(QRect(QPoint(0, 0), frameSize));
}

void FocusOverlay::paint(QPainter &painter, const QRect &picture, const QImage &frame) const
{
    if (picture.isEmpty())
        return;
    painter.save();
    if (m_loupeZoom > 0 && !frame.isNull()) {
        // The region's own pixels, cut to what fits the inset at this zoom,
        // around the region's centre.
        const QRect region = frameRegion(m_region, frame.size());
        const QSize room(int(picture.width() * kLoupeShare) / m_loupeZoom,
                         int(picture.height() * kLoupeShare) / m_loupeZoom);
        QRect source(QPoint(0, 0), region.size().boundedTo(room));
        source.moveCenter(region.center());
        source = source.intersected(frame.rect());
        if (!source.isEmpty()) {
            const QRect inset(picture.right() - source.width() * m_loupeZoom - 8,
                              picture.bottom() - source.height() * m_loupeZoom - 8,
                              source.width() * m_loupeZoom, source.height() * m_loupeZoom);
            painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
            painter.drawImage(inset, frame, source);
            painter.setPen(QPen(QColor(255, 255, 255, 120), 1));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(inset.adjusted(-1, -1, 0, 0));
            painter.drawText(inset.adjusted(4, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                             m_loupeZoom == 1 ? QStringLiteral("1:1")
                                              : QStringLiteral("%1x").arg(m_loupeZoom));
        }
    }
    if (m_regionVisible) {
        // Thin and faint: it must not hide what it frames.
        const QRectF r = onPicture(m_region, picture);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(120, 220, 120, 150), 1));
        painter.drawRect(r);
        painter.setPen(QPen(QColor(120, 220, 120, 220), 2));
        const double tick = std::min({6.0, r.width() / 4, r.height() / 4});
        for (const QPointF &c : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()}) {
            const double dx = c.x() == r.left() ? tick : -tick;
            const double dy = c.y() == r.top() ? tick : -tick;
            painter.drawLine(c, c + QPointF(dx, 0));
            painter.drawLine(c, c + QPointF(0, dy));
        }
    }
    painter.restore();
}

bool FocusOverlay::mousePress(QPoint at, const QRect &picture)
{
    if (!m_regionVisible || picture.isEmpty())
        return false;
    const QRectF r = onPicture(m_region, picture);
    const auto near = [at](QPointF corner) {
        return std::abs(at.x() - corner.x()) <= kCornerGrip &&
               std::abs(at.y() - corner.y()) <= kCornerGrip;
    };
    if (near(r.topLeft()))
        m_drag = Drag::TopLeft;
    else if (near(r.topRight()))
        m_drag = Drag::TopRight;
    else if (near(r.bottomLeft()))
        m_drag = Drag::BottomLeft;
    else if (near(r.bottomRight()))
        m_drag = Drag::BottomRight;
    else if (r.contains(at))
        m_drag = Drag::Move;
    else
        return false;
    m_dragStart = toFraction(at, picture);
    m_regionAtStart = m_region;
    return true;
}

void FocusOverlay::mouseMove(QPoint at, const QRect &picture)
{
    if (m_drag == Drag::None || picture.isEmpty())
        return;
    const QPointF p = toFraction(at, picture);
    const QPointF d = p - m_dragStart;
    QRectF r = m_regionAtStart;
    switch (m_drag) {
    case Drag::Move:
        r.translate(d);
        break;
    case Drag::TopLeft:
        r.setTopLeft(r.topLeft() + d);
        break;
    case Drag::TopRight:
        r.setTopRight(r.topRight() + d);
        break;
    case Drag::BottomLeft:
        r.setBottomLeft(r.bottomLeft() + d);
        break;
    case Drag::BottomRight:
        r.setBottomRight(r.bottomRight() + d);
        break;
    case Drag::None:
        break;
    }
    if (m_drag != Drag::Move) {
        // A corner pulled past the opposite one stops at the smallest size.
        r = r.normalized();
        r = r.intersected(QRectF(0, 0, 1, 1));
    }
    setRegion(r);
}

void FocusOverlay::mouseRelease()
{
    if (m_drag == Drag::None)
        return;
    m_drag = Drag::None;
    if (m_region != m_regionAtStart)
        Q_EMIT regionChanged(m_region);
}

} // namespace platform
