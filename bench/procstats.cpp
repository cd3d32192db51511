#include "procstats.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <time.h>
#include <unistd.h>

namespace ProcStats {

namespace {

qint64 statusKib(const QByteArray &baField)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &baLine : status.readAll().split('\n')) {
        if (baLine.startsWith(baField))
            return baLine.mid(baField.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

qint64 cpuNs()
{
    timespec now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qint64 cpuMsOf(qint64 iPid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(iPid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The command name may hold spaces and parentheses; the fields after its closing one are fixed.
    const QByteArray baStat = stat.readAll();
    const QList<QByteArray> lFields = baStat.mid(baStat.lastIndexOf(')') + 2).split(' ');
    if (lFields.size() < 13)
        return -1;
    const qint64 iTicks = lFields.at(11).toLongLong() + lFields.at(12).toLongLong(); // utime, stime
    return iTicks * 1000 / sysconf(_SC_CLK_TCK);
}

qint64 rssKib()
{
    return statusKib("VmRSS:");
}

qint64 peakRssKib()
{
    return statusKib("VmHWM:");
}

bool resetPeakRss()
{
    QFile clearRefs("/proc/self/clear_refs");
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

} // namespace ProcStats
