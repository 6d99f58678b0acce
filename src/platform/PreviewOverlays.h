#pragma once

#include <QImage>
#include <QRect>
#include <QTransform>

class QPainter;

namespace platform
{

// The viewing aids of the preview: how the picture is turned and what is
// drawn over it. They change only what the view shows, never the frame.
struct PreviewAids {
    bool flipHorizontal = false;
    bool flipVertical = false;
    bool rotate180 = false;
    bool reticle = false;
    bool clipping = false;     // clipped pixels striped in the warning colour
    bool nightPicture = false; // the picture itself in red
    bool nightMode = false;    // the reticle in dim red
    bool operator==(const PreviewAids &) const = default;
};

namespace overlays
{

// The stripes over clipped pixels: a colour no sky has.
inline constexpr QRgb kWarningColor = qRgb(255, 0, 200);

// The view's transform of a picture drawn at picture: the flips and the turn,
// about the picture's centre. Identity when nothing is flipped; a flip both
// ways is the half turn.
QTransform viewTransform(const QRect &picture, const PreviewAids &aids);

// Draws the aids over a picture drawn at picture by painter, which already
// carries viewTransform(). clipMask is the frame's clipped mask (Alpha8, of
// the frame's size); a null one, or one of another frame size (frameSize),
// draws no stripes.
void paint(QPainter &painter, const QRect &picture, const QSize &frameSize, const PreviewAids &aids,
           const QImage &clipMask);

} // namespace overlays
} // namespace platform
