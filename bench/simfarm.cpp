#include "simfarm.h"

#include "procstats.h"

namespace {

QString urlOf(int iPort, int iId)
{
    return QStringLiteral("http://127.0.0.1:%1/dev/%2").arg(iPort).arg(iId);
}

} // namespace

SimFarm::SimFarm(QString sExecutableIn) : sExecutable(std::move(sExecutableIn)) {}

bool SimFarm::start(const Setup &setup, QString &sError)
{
    // One spare device per server beyond the spread ones.
    iPerServer = (setup.iDevices + setup.iServers - 1) / setup.iServers;
    QStringList lArgs = {
        "--auth",           "basic", "--threads", "16", "--devices", QString::number(iPerServer + 1),
        "--reboot-seconds", "0"};
    if (setup.iLargeBodyBytes > 0)
        lArgs << "--large-body" << QStringLiteral("/files/export/settings.ndb=%1").arg(setup.iLargeBodyBytes);
    QList<QStringList> lArgsPerServer;
    for (int i = 0; i < setup.iServers; ++i)
        lArgsPerServer.append(lArgs);
    return servers.start(sExecutable, lArgsPerServer, &sError);
}

void SimFarm::stop()
{
    servers.stop();
}

QStringList SimFarm::deviceUrls(int iDevices) const
{
    QStringList lUrls;
    for (int i = 0; i < iDevices; ++i)
        lUrls.append(urlOf(servers.port(i % servers.count()), i / servers.count() + 1));
    return lUrls;
}

QString SimFarm::spareDeviceUrl() const
{
    return urlOf(servers.port(0), iPerServer + 1);
}

qint64 SimFarm::cpuMs() const
{
    qint64 iTotal = 0;
    for (const qint64 iProcessId : servers.processIds())
        iTotal += qMax<qint64>(0, ProcStats::cpuMsOf(iProcessId));
    return iTotal;
}
