// The devices of a run: several kestrol-devicesim processes on their own ports, as a site spreads devices
// over many hosts. They are separate processes so that the measured client does not pay for them, and
// their CPU time can be read on its own.
#pragma once

#include "simservers.h"

#include <QString>
#include <QStringList>

class SimFarm
{
public:
    struct Setup
    {
        int iServers = 16;
        int iDevices = 10000;       // spread evenly over the servers
        qint64 iLargeBodyBytes = 0; // size of every device's settings backup; 0: the usual small one
    };

    explicit SimFarm(QString sExecutable);
    bool start(const Setup &setup, QString &sError);
    void stop();

    // Base URLs of the first iDevices devices; device i lives on server i modulo the number of servers.
    QStringList deviceUrls(int iDevices) const;
    // A device of its own for single large transfers.
    QString spareDeviceUrl() const;
    // CPU time of all servers so far, in milliseconds.
    qint64 cpuMs() const;

private:
    QString sExecutable;
    SimServers servers;
    int iPerServer = 0;
};
