#pragma once

#include <QRect>
#include <QString>

class QPainter;

namespace platform
{

// Draws text, the age of a picture that no new frame has replaced, on a dark
// plate over the lower left corner of picture (widget coordinates), sized to
// the picture so that it reads on a small window and does not cover a large
// one. Called from a paint event, on the main thread; leaves the painter as
// it found it.
void paintPictureAge(QPainter &painter, const QRect &picture, const QString &text);

} // namespace platform
