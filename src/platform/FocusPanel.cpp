#include "platform/FocusPanel.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace platform
{

FocusPlot::FocusPlot(QWidget *parent) : QWidget(parent)
{
    setMinimumHeight(90);
}

void FocusPlot::setPoints(const QList<QPointF> &points, double xRange)
{
    m_points = points;
    m_xRange = xRange;
    update();
}

void FocusPlot::setMarker(int index)
{
    m_marker = index;
    update();
}

void FocusPlot::setLevel(double level)
{
    m_level = level;
    update();
}

void FocusPlot::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0x1e, 0x1f, 0x22));
    p.setPen(QColor(0x3a, 0x3c, 0x40));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    if (m_points.isEmpty())
        return;
    double xMax = m_points.last().x();
    double xMin = m_xRange > 0 ? xMax - m_xRange : m_points.first().x();
    // The scale follows what is shown, so that small changes near focus
    // still move the line.
    double yMin = m_level > 0 ? m_level : m_points.last().y();
    double yMax = yMin;
    for (const QPointF &pt : m_points)
        if (pt.x() >= xMin) {
            yMin = std::min(yMin, pt.y());
            yMax = std::max(yMax, pt.y());
        }
    if (xMax <= xMin)
        xMax = xMin + 1;
    const double pad = std::max((yMax - yMin) * 0.08, 1e-6);
    yMin -= pad;
    yMax += pad;
    const QRectF area = QRectF(rect()).adjusted(4, 6, -4, -4);
    const auto at = [&](QPointF pt) {
        return QPointF(area.left() + (pt.x() - xMin) / (xMax - xMin) * area.width(),
                       area.bottom() - (pt.y() - yMin) / (yMax - yMin) * area.height());
    };
    p.setRenderHint(QPainter::Antialiasing);
    if (m_level > 0) {
        p.setPen(QPen(QColor(230, 190, 90, 160), 1, Qt::DashLine));
        const double y = at({xMin, m_level}).y();
        p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    }
    QPainterPath line;
    bool first = true;
    for (const QPointF &pt : m_points) {
        if (pt.x() < xMin)
            continue;
        first ? line.moveTo(at(pt)) : line.lineTo(at(pt));
        first = false;
    }
    p.setPen(QPen(QColor(120, 220, 120), 1.5));
    p.drawPath(line);
    if (m_xRange <= 0) { // a V-curve: every point is a step
        p.setBrush(QColor(120, 220, 120));
        for (const QPointF &pt : m_points)
            p.drawEllipse(at(pt), 2, 2);
    }
    if (m_marker >= 0 && m_marker < m_points.size()) {
        p.setPen(QPen(QColor(230, 190, 90), 2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(at(m_points[m_marker]), 5, 5);
    }
}

FocusPanel::FocusPanel(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("focusPanel"));
    setFixedWidth(250);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    auto *title = new QLabel(tr("FOCUS"), this);
    layout->addWidget(title);

    scoreLab = new QLabel(QStringLiteral("–"), this);
    QFont big = scoreLab->font();
    big.setPixelSize(40);
    big.setBold(true);
    scoreLab->setFont(big);
    scoreLab->setAlignment(Qt::AlignCenter);
    layout->addWidget(scoreLab);
    bestLab = new QLabel(this);
    bestLab->setAlignment(Qt::AlignCenter);
    layout->addWidget(bestLab);
    graph = new FocusPlot(this);
    graph->setToolTip(tr("Score over the last 30 s; the dashed line is the best"));
    layout->addWidget(graph);

    auto *buttons = new QGridLayout;
    resetBtn = new QPushButton(tr("Reset"), this);
    resetBtn->setToolTip(tr("Forget the best score and the graph"));
    regionBtn = new QPushButton(tr("Region"), this);
    regionBtn->setCheckable(true);
    regionBtn->setChecked(true);
    regionBtn->setToolTip(tr("Show the measured region (R)"));
    loupeBtn = new QPushButton(tr("Loupe off"), this);
    loupeBtn->setToolTip(tr("Loupe: off, 1:1, 2x, 4x (L)"));
    buttons->addWidget(resetBtn, 0, 0);
    buttons->addWidget(regionBtn, 0, 1);
    buttons->addWidget(loupeBtn, 1, 0, 1, 2);
    layout->addLayout(buttons);

    auto *sweep = new QHBoxLayout;
    findFocusBtn = new QPushButton(tr("Find focus"), this);
    findFocusBtn->setToolTip(
        tr("Step the focus through the range and come back to the sharpest step "
           "(Ctrl+F; Esc stops)"));
    sweepStepsBox = new QSpinBox(this);
    sweepStepsBox->setRange(4, 60);
    sweepStepsBox->setValue(20);
    sweepStepsBox->setSuffix(tr(" steps"));
    sweepStepsBox->setToolTip(tr("Range of the sweep"));
    sweep->addWidget(findFocusBtn);
    sweep->addWidget(sweepStepsBox);
    layout->addLayout(sweep);
    curvePlot = new FocusPlot(this);
    curvePlot->setToolTip(tr("Score against focus step; the ring is the best step"));
    layout->addWidget(curvePlot);
    sweepLab = new QLabel(this);
    sweepLab->setWordWrap(true);
    layout->addWidget(sweepLab);
    layout->addStretch(1);
}

} // namespace platform
