#pragma once

#include <QImage>
#include <QSize>

namespace platform
{

// source (Format_RGB32) scaled to size with bilinear filtering, each pixel
// centre sampled where it falls on the source, as QPainter's smooth image
// transform does: the same picture within two levels per channel (the two
// directions are mixed in the other order), made on the calling thread. Meant for shrinking at most
// twice; beyond that a filter that averages every pixel is needed. into is reused when it has the
// size and format and nobody else holds it.
QImage bilinearShrink(const QImage &source, QSize size, QImage into = {});

} // namespace platform
