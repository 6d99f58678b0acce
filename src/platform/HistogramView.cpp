#include "platform/HistogramView.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace platform
{

HistogramView::HistogramView(QWidget *parent) : QWidget(parent)
{
    setMinimumHeight(56);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void HistogramView::setCounts(const std::array<Counts, CurveCount> &counts)
{
    m_counts = counts;
    update();
}

void HistogramView::setScale(Scale scale)
{
    if (scale == m_scale)
        return;
    m_scale = scale;
    update();
}

void HistogramView::setNight(bool night)
{
    if (night == m_night)
        return;
    m_night = night;
    update();
}

void HistogramView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);
    painter.fillRect(rect(), m_night ? QColor(0, 0, 0) : QColor(0x1e, 0x1f, 0x22));

    // One scale for all four, so the colours compare with each other; the
    // logarithm brings out the few bright pixels of a star field.
    std::uint32_t peak = 0;
    for (const Counts &c : m_counts)
        peak = std::max(peak, *std::max_element(c.begin(), c.end()));
    if (peak == 0)
        return;
    const bool log = m_scale == Scale::Logarithmic;
    const double top = log ? std::log1p(double(peak)) : double(peak);
    const auto curve = [&](const Counts &c) {
        QPolygonF points(256);
        for (int v = 0; v < 256; ++v) {
            const double h = (log ? std::log1p(double(c[v])) : double(c[v])) / top;
            points[v] =
                QPointF(area.left() + area.width() * v / 255.0, area.bottom() - area.height() * h);
        }
        return points;
    };

    // Polygons and hairlines, not stroked paths: the same picture at a small
    // part of the cost, and the plot is drawn again up to ten times a second.
    painter.setRenderHint(QPainter::Antialiasing);
    QPolygonF luminance = curve(m_counts[Luminance]);
    luminance << area.bottomRight() << area.bottomLeft();
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_night ? QColor(90, 12, 6) : QColor(150, 154, 160, 140));
    painter.drawPolygon(luminance);
    const std::array<QColor, 3> day{QColor(230, 80, 70), QColor(90, 200, 90), QColor(90, 140, 240)};
    const std::array<QColor, 3> night{QColor(170, 30, 20), QColor(130, 24, 14),
                                      QColor(100, 18, 10)};
    for (int c = Red; c <= Blue; ++c) {
        QPen pen(m_night ? night[c - Red] : day[c - Red], 1.0);
        pen.setCosmetic(true);
        painter.setPen(pen);
        painter.drawPolyline(curve(m_counts[c]));
    }
}

} // namespace platform
