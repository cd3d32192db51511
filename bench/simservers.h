// kestrol-devicesim processes, each on a free loopback port of its own, that end with the process that
// started them. The benchmark and the soak both put their devices on such servers.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class ChildProcess;

class SimServers
{
public:
    SimServers();
    ~SimServers();
    // One server for each argument list ("--port 0" is added), then the wait until every one has said its
    // port. False with the reason, every server stopped.
    bool start(const QString &sExecutable, const QList<QStringList> &lArgsPerServer, QString *psError);
    void stop();

    int count() const { return lPorts.size(); }
    int port(int iServer) const { return lPorts.value(iServer); }
    QList<qint64> processIds() const;

private:
    std::vector<std::unique_ptr<ChildProcess>> vServers;
    QList<int> lPorts;
};
