#include "simfarm.h"

#include "childprocess.h"
#include "procstats.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

namespace {

constexpr int kStartMs = 20000;
constexpr int kStopMs = 5000;

QString urlOf(int iPort, int iId)
{
    return QStringLiteral("http://127.0.0.1:%1/dev/%2").arg(iPort).arg(iId);
}

// The port from the simulator's "Serving ..." line, once it has printed it; 0 before.
int servingPort(const QByteArray &baOutput)
{
    static const QRegularExpression serving(QStringLiteral("^Serving .* on 127\\.0\\.0\\.1:(\\d+),"),
                                            QRegularExpression::MultilineOption);
    return serving.match(QString::fromLatin1(baOutput)).captured(1).toInt();
}

} // namespace

SimFarm::SimFarm(QString sExecutableIn) : sExecutable(std::move(sExecutableIn)) {}

SimFarm::~SimFarm()
{
    stop();
}

bool SimFarm::start(const Setup &setup, QString &sError)
{
    // One spare device per server beyond the spread ones.
    iPerServer = (setup.iDevices + setup.iServers - 1) / setup.iServers;
    QStringList lArgs = {"--port",           "0",  "--auth",    "basic",
                         "--threads",        "16", "--devices", QString::number(iPerServer + 1),
                         "--reboot-seconds", "0"};
    if (setup.iLargeBodyBytes > 0)
        lArgs << "--large-body" << QStringLiteral("/files/export/settings.ndb=%1").arg(setup.iLargeBodyBytes);
    for (int i = 0; i < setup.iServers; ++i) {
        vServers.push_back(std::make_unique<ChildProcess>());
        vServers.back()->setProcessChannelMode(QProcess::MergedChannels);
        vServers.back()->start(sExecutable, lArgs);
    }
    const QDeadlineTimer deadline(kStartMs);
    for (const auto &pServer : vServers) {
        QByteArray baOutput;
        int iPort = 0;
        while (iPort == 0 && !deadline.hasExpired() && pServer->state() != QProcess::NotRunning) {
            pServer->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
            baOutput += pServer->readAll();
            iPort = servingPort(baOutput);
        }
        if (iPort == 0) {
            sError =
                QStringLiteral("%1 did not start: %2 %3")
                    .arg(sExecutable, pServer->errorString(), QString::fromLocal8Bit(baOutput.right(300)));
            stop();
            return false;
        }
        lPorts.append(iPort);
        pServer->closeReadChannel(QProcess::StandardOutput);
    }
    return true;
}

void SimFarm::stop()
{
    for (const auto &pServer : vServers)
        pServer->terminate();
    for (const auto &pServer : vServers) {
        if (!pServer->waitForFinished(kStopMs))
            pServer->kill();
        pServer->waitForFinished(kStopMs);
    }
    vServers.clear();
    lPorts.clear();
}

QStringList SimFarm::deviceUrls(int iDevices) const
{
    QStringList lUrls;
    for (int i = 0; i < iDevices; ++i)
        lUrls.append(urlOf(lPorts.at(i % lPorts.size()), i / lPorts.size() + 1));
    return lUrls;
}

QString SimFarm::spareDeviceUrl() const
{
    return urlOf(lPorts.first(), iPerServer + 1);
}

qint64 SimFarm::cpuMs() const
{
    qint64 iTotal = 0;
    for (const auto &pServer : vServers)
        iTotal += qMax<qint64>(0, ProcStats::cpuMsOf(pServer->processId()));
    return iTotal;
}
