#include "heapmeter.h"

#include <QFile>

#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
#define KESTROL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTROL_ASAN 1
#endif
#endif

#ifdef KESTROL_ASAN
// From the sanitizer runtime's allocator interface (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace HeapMeter {

qint64 liveBytes()
{
#ifdef KESTROL_ASAN
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#endif
}

qint64 residentKib()
{
    malloc_trim(0);
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &baLine : status.readAll().split('\n')) {
        if (baLine.startsWith("VmRSS:"))
            return baLine.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace HeapMeter
