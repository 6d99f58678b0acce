#include "support/ProcessFigures.h"

#include <QDir>
#include <QFile>

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

namespace
{

// A "Name:   value kB" line of /proc/self/status; -1 when missing.
qint64 statusField(const char *name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (!line.startsWith(key))
            continue;
        const QList<QByteArray> fields = line.mid(key.size()).simplified().split(' ');
        const qint64 value = fields.value(0).toLongLong();
        return fields.value(1) == "kB" ? value * 1024 : value;
    }
    return -1;
}

} // namespace

int openFileDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                   .size());
}

int threads()
{
    return int(statusField("Threads"));
}

qint64 residentBytes()
{
    return statusField("VmRSS");
}

qint64 peakResidentBytes()
{
    return statusField("VmHWM");
}

bool resetPeakResident()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

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
