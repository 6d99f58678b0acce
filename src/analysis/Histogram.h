#pragma once

#include <QImage>
#include <QRect>

#include <array>
#include <cstdint>

namespace analysis
{

// Counts of a frame's pixel values, 0 to 255, for the luminance and each
// colour channel, and how many pixels are clipped: at 255 in at least one
// channel, where the picture holds no detail any more.
struct Histogram {
    enum Channel { Luminance = 0, Red, Green, Blue, ChannelCount };
    using Counts = std::array<std::uint32_t, 256>;

    std::array<Counts, ChannelCount> counts{};
    std::uint64_t pixels = 0;  // pixels counted
    std::uint64_t clipped = 0; // of which clipped

    // Clipped pixels over counted pixels, 0 to 1; 0 when nothing was counted.
    double clippedShare() const { return pixels ? double(clipped) / double(pixels) : 0.0; }
    // The largest count of a channel, for scaling a plot.
    std::uint32_t peak(Channel channel) const;
};

// The luminance of a pixel, 0 to 255, weighted as for broadcast video
// (0.30 R + 0.59 G + 0.11 B, in integers).
constexpr int luminance(int r, int g, int b)
{
    return (77 * r + 150 * g + 29 * b) >> 8;
}

// The histogram of the part of frame inside rect (clipped to the frame; a
// null rect or frame counts nothing). With a step above 1 the counts sample
// every step-th pixel of every step-th row, enough for a plot at a fraction
// of the cost; pixels and clipped still cover every pixel, so that a single
// saturated star is never missed. clipMask, when given, receives
// clippedMask(frame, rect) from the same pass over the pixels. Any thread;
// frame is only read.
Histogram histogramOf(const QImage &frame, const QRect &rect, int step = 1,
                      QImage *clipMask = nullptr);

// A mask of frame's size in Format_Alpha8: 255 where a pixel inside rect is
// clipped, 0 everywhere else. Null for a null frame. Any thread.
QImage clippedMask(const QImage &frame, const QRect &rect);

} // namespace analysis
