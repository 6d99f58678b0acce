#include "support/ProcessFigures.h"

#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
#define ORBILENS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORBILENS_ASAN 1
#endif
#endif

#ifdef ORBILENS_ASAN
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace processfigures
{

qint64 heapInUse()
{
#ifdef ORBILENS_ASAN
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#endif
}

bool underAddressSanitizer()
{
#ifdef ORBILENS_ASAN
    return true;
#else
    return false;
#endif
}

} // namespace processfigures
