#pragma once

#include <QByteArray>
#include <QImage>

namespace testimages
{

// An opaque picture with a gradient and a seed-dependent mark, so that
// consecutive test frames differ.
QImage picture(int width, int height, int seed = 0);

// The same picture encoded as JPEG (quality 90).
QByteArray jpeg(int width, int height, int seed = 0);

// The largest difference of a colour channel between two pictures, pixel by
// pixel; 256 when their sizes differ.
int maxDifference(const QImage &a, const QImage &b);

// How many pixels differ by more than levels in a colour channel; every
// pixel when the sizes differ.
qsizetype pixelsApart(const QImage &a, const QImage &b, int levels);

} // namespace testimages
