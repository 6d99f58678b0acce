#pragma once

#include <QFrame>
#include <QList>
#include <QPointF>
#include <QPointer>

class QLabel;
class QPushButton;
class QSpinBox;

namespace platform
{

// A small plot: a line through points, an optional marked point and an
// optional level line, scaled to fit. The focus panel's graph and V-curve.
class FocusPlot : public QWidget
{
    Q_OBJECT
public:
    explicit FocusPlot(QWidget *parent = nullptr);
    // xRange: the x span shown, ending at the last point (0: all points).
    void setPoints(const QList<QPointF> &points, double xRange = 0);
    void setMarker(int index);   // -1: none
    void setLevel(double level); // a dashed line across; 0: none
    const QList<QPointF> &points() const { return m_points; }
    int marker() const { return m_marker; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<QPointF> m_points;
    double m_xRange = 0;
    int m_marker = -1;
    double m_level = 0;
};

// Focus assist's panel: the score in large figures, the best since reset, a
// graph of the last half minute, the reset button, the loupe's zoom, the
// "Find focus" sweep with its range and its V-curve. It shows what it is given
// and reports the user's clicks; the controller does the rest.
class FocusPanel : public QFrame
{
    Q_OBJECT
public:
    explicit FocusPanel(QWidget *parent = nullptr);

    QPointer<QLabel> scoreLab;
    QPointer<QLabel> bestLab;
    QPointer<FocusPlot> graph;
    QPointer<QPushButton> resetBtn;
    QPointer<QPushButton> regionBtn;
    QPointer<QPushButton> loupeBtn;
    QPointer<QPushButton> findFocusBtn;
    QPointer<QSpinBox> sweepStepsBox;
    QPointer<FocusPlot> curvePlot;
    QPointer<QLabel> sweepLab;
};

} // namespace platform
