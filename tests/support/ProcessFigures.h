#pragma once

#include <QtGlobal>

// Figures of this process from Linux's /proc and the allocator, for tests
// that bound memory and for the soak benchmark. Any thread.
namespace processfigures
{

// Entries of /proc/self/fd.
int openFileDescriptors();
// "Threads:" of /proc/self/status.
int threads();
// Resident memory now ("VmRSS"), and its peak ("VmHWM") since the start or
// since the last resetPeakResident(), in bytes.
qint64 residentBytes();
qint64 peakResidentBytes();
// Starts a new peak; false when the kernel does not allow it.
bool resetPeakResident();

// Bytes the program has allocated and not yet freed: malloc's own figure, or
// under AddressSanitizer its allocator's, which leaves out the freed memory
// it keeps in quarantine (resident memory there says little).
qint64 heapInUse();
// True in a build with AddressSanitizer.
bool underAddressSanitizer();

} // namespace processfigures
