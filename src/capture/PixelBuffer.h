#pragma once

#include <QtGlobal>

#include <memory>

// One frame in the pixel layout the video writer feeds to the encoder:
// 32-bit ARGB with the bytes in memory order alpha, red, green, blue, colour
// premultiplied by alpha, rows top to bottom, width * 4 bytes per row with no
// padding. The buffer owns its memory; a new buffer's pixels are undefined.
class PixelBuffer
{
public:
    // Sides above this are refused; H.264 itself stops well before it.
    static constexpr int kMaxSide = 16384;

    // A width x height buffer, or null when a side is outside 1..kMaxSide or
    // the memory cannot be had.
    static std::unique_ptr<PixelBuffer> create(int width, int height);

    int width() const { return m_width; }
    int height() const { return m_height; }
    qsizetype bytesPerRow() const { return qsizetype(m_width) * 4; }
    qsizetype byteCount() const { return bytesPerRow() * m_height; }

    uchar *data() { return m_bytes.get(); }
    const uchar *data() const { return m_bytes.get(); }
    uchar *row(int y) { return m_bytes.get() + y * bytesPerRow(); }
    const uchar *row(int y) const { return m_bytes.get() + y * bytesPerRow(); }

private:
    struct FreeMemory {
        void operator()(uchar *bytes) const;
    };
    using Memory = std::unique_ptr<uchar[], FreeMemory>;

    PixelBuffer(int width, int height, Memory bytes);

    int m_width;
    int m_height;
    Memory m_bytes;
};
