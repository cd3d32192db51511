// Bytes the process's allocator has handed out and not yet taken back: the live heap.
#pragma once

#include <QtGlobal>

namespace HeapMeter {

// From the sanitizer's allocator in a sanitizer build (which replaces malloc), else from glibc's mallinfo2.
qint64 liveBytes();
// Returns free memory at the top of the heap to the system first, so that resident memory tells too.
qint64 residentKib();

} // namespace HeapMeter
