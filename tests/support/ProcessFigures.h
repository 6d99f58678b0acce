#pragma once

#include <QtGlobal>

// The allocator's figures, for tests that bound memory and for the soak
// benchmark. Any thread.
namespace processfigures
{

// Bytes the program has allocated and not yet freed: malloc's own figure, or
// under AddressSanitizer its allocator's, which leaves out the freed memory
// it keeps in quarantine (resident memory there says little).
qint64 heapInUse();
// True in a build with AddressSanitizer.
bool underAddressSanitizer();

} // namespace processfigures
