#include "capture/PixelBuffer.h"

#include <cstdlib>
#include <sys/mman.h>

namespace
{
// Large buffers sit on 2 MiB boundaries and ask for transparent huge pages:
// faulting in a 3840 x 2160 frame page by page costs several times more than
// filling it, and this happens on the main thread.
constexpr size_t kHugePageBytes = 2 * 1024 * 1024;
} // namespace

void PixelBuffer::FreeMemory::operator()(uchar *bytes) const
{
    std::free(bytes);
}

PixelBuffer::PixelBuffer(int width, int height, Memory bytes)
    : m_width(width), m_height(height), m_bytes(std::move(bytes))
{
}

std::unique_ptr<PixelBuffer> PixelBuffer::create(int width, int height)
{
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
        return {};
    const size_t bytes = size_t(width) * size_t(height) * 4;
    // Left uninitialised: the conversion writes every byte.
    void *memory = nullptr;
    if (bytes >= 2 * kHugePageBytes) {
        const size_t rounded = (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
        if (posix_memalign(&memory, kHugePageBytes, rounded) != 0)
            return {};
        madvise(memory, rounded, MADV_HUGEPAGE); // only a hint; fine if refused
    } else {
        memory = std::malloc(bytes);
        if (!memory)
            return {};
    }
    return std::unique_ptr<PixelBuffer>(
        new PixelBuffer(width, height, Memory(static_cast<uchar *>(memory))));
}
