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

} // namespace testimages
