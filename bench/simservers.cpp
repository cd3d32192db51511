#include "simservers.h"

#include "childprocess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

namespace {

constexpr int kStartMs = 30000;
constexpr int kStopMs = 10000;

// The port from the simulator's "Serving ..." line, once it has printed it; 0 before.
int servingPort(const QByteArray &baOutput)
{
    static const QRegularExpression serving(QStringLiteral("^Serving .* on 127\\.0\\.0\\.1:(\\d+),"),
                                            QRegularExpression::MultilineOption);
    return serving.match(QString::fromLatin1(baOutput)).captured(1).toInt();
}

} // namespace

SimServers::SimServers() = default;

SimServers::~SimServers()
{
    stop();
}

bool SimServers::start(const QString &sExecutable, const QList<QStringList> &lArgsPerServer, QString *psError)
{
    for (const QStringList &lArgs : lArgsPerServer) {
        vServers.push_back(std::make_unique<ChildProcess>());
        vServers.back()->setProcessChannelMode(QProcess::MergedChannels);
        vServers.back()->start(sExecutable, QStringList{"--port", "0"} + lArgs);
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
            *psError =
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

void SimServers::stop()
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

QList<qint64> SimServers::processIds() const
{
    QList<qint64> lIds;
    for (const auto &pServer : vServers)
        lIds.append(pServer->processId());
    return lIds;
}
