// What the kernel knows about a process: CPU time and resident memory.
#pragma once

#include <QtGlobal>

namespace ProcStats {

// CPU time of this process, all threads, in nanoseconds (fine enough for a single idle tick).
qint64 cpuNs();
// CPU time of another process from /proc/<pid>/stat, in milliseconds (10 ms resolution); -1 when gone.
qint64 cpuMsOf(qint64 iPid);
// Resident memory of this process now and at its peak, in KiB.
qint64 rssKib();
qint64 peakRssKib();
// Lowers the peak to the present resident size, so that a later peak belongs to what ran in between.
bool resetPeakRss();

} // namespace ProcStats
