#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QRectF>

class QPainter;

namespace platform
{

// What focus assist draws over the live picture: the region whose sharpness
// is measured, a thin rectangle the user drags to move and pulls by a corner
// to resize, and the loupe, an inset that shows the region's own pixels at
// 1:1, 2x or 4x (nearest neighbour, so pixels are seen as they are).
//
// The region is kept as fractions of the frame, so it stays put when the
// resolution changes. PreviewView calls paint() after the picture and hands
// it the mouse. Main thread only.
class FocusOverlay : public QObject
{
    Q_OBJECT
public:
    static constexpr QRectF kDefaultRegion{0.35, 0.35, 0.3, 0.3};

    explicit FocusOverlay(QObject *parent = nullptr);

    QRectF region() const { return m_region; }
    void setRegion(const QRectF &region); // clamped into the frame
    bool isRegionVisible() const { return m_regionVisible; }
    void setRegionVisible(bool visible);
    int loupeZoom() const { return m_loupeZoom; } // 0 (off), 1, 2 or 4
    void setLoupeZoom(int zoom);

    // The region in the pixels of a frame of frameSize; at least 3x3 where
    // the frame allows.
    static QRect frameRegion(const QRectF &region, QSize frameSize);

    // picture: where the frame is shown, in widget coordinates.
    void paint(QPainter &painter, const QRect &picture, const QImage &frame) const;
    // True when the overlay takes the press (on the region, while shown).
    bool mousePress(QPoint at, const QRect &picture);
    void mouseMove(QPoint at, const QRect &picture);
    void mouseRelease();

Q_SIGNALS:
    void changed();                           // repaint
    void regionChanged(const QRectF &region); // the user moved or resized it

private:
    enum class Drag { None, Move, TopLeft, TopRight, BottomLeft, BottomRight };

    QRectF m_region = kDefaultRegion;
    bool m_regionVisible = true;
    int m_loupeZoom = 0;
    Drag m_drag = Drag::None;
    QPointF m_dragStart;    // in fractions of the frame
    QRectF m_regionAtStart; // the region when the drag began
};

} // namespace platform
