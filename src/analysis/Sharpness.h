#pragma once

#include <QImage>
#include <QRect>

namespace analysis
{

// How sharp a region of a frame is, as the Tenengrad measure: the mean
// energy of the Sobel gradient over the region, divided by the square of the
// region's mean brightness. Dividing by the brightness squared makes the
// score a pure contrast figure, so an exposure change or a brighter night
// leaves it where it was, while a defocus (which spreads edges and star
// cores) lowers it. It works on extended targets (the Moon, planets) and on
// star fields alike.
struct Sharpness {
    double score = 0;      // 0 for a black or too small region
    double brightness = 0; // mean grey level of the region, 0..255
    QRect region;          // the part of the frame that was measured
};

// The region is clipped to the frame; a region under 3x3 pixels measures 0.
// Takes the frame's own pixels as they are (RGB32/ARGB32 rows; other formats
// are converted first).
Sharpness measureSharpness(const QImage &frame, const QRect &region);

// The same over raw 32-bit xRGB rows (as QImage::Format_RGB32 lays them out).
Sharpness measureSharpness(const uchar *bits, qsizetype bytesPerLine, const QRect &region);

} // namespace analysis
