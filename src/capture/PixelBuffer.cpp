#include "capture/PixelBuffer.h"

#include <new>

PixelBuffer::PixelBuffer(int width, int height, std::unique_ptr<uchar[]> bytes)
    : m_width(width), m_height(height), m_bytes(std::move(bytes))
{
}

std::unique_ptr<PixelBuffer> PixelBuffer::create(int width, int height)
{
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
        return {};
    const qsizetype bytes = qsizetype(width) * height * 4;
    // Left uninitialised: the conversion writes every byte.
    std::unique_ptr<uchar[]> memory(new (std::nothrow) uchar[size_t(bytes)]);
    if (!memory)
        return {};
    return std::unique_ptr<PixelBuffer>(new PixelBuffer(width, height, std::move(memory)));
}
