// The soak's devices: kestrol-devicesim processes for each of HTTP and HTTPS with Basic and with Digest
// authentication, in two sets (one for calm devices, one for those that stall or cut connections), each
// serving the same number of devices. Faults are injected over the simulators' control endpoint, as into any
// running simulator.
#pragma once

#include "simservers.h"

#include <QByteArray>
#include <QList>
#include <QString>

class QNetworkAccessManager;

class SimFleet
{
public:
    static constexpr int kServers = 8;
    static constexpr const char *kUser = "admin";
    static constexpr const char *kPassword = "s0ak-Pa55w0rd";
    static constexpr const char *kWrongPassword = "n0t-the-Pa55w0rd"; // refused by every device

    bool start(const QString &sExecutable, int iDevices, QString *psError);
    void stop();

    // Server iServer: HTTPS for 2, 3, 6 and 7, Digest for odd numbers; 4 to 7 are the second set. Devices
    // are numbered from 0.
    static bool isTls(int iServer) { return iServer % 4 >= 2; }
    QString baseUrl(int iServer, int iDevice) const;
    int port(int iServer) const { return servers.port(iServer); }

    struct FaultSetting
    {
        int iServer;
        int iDevice;
        QByteArray baPath;
        QByteArray baFault;
    };
    // Every setting at once; false with the first refusal.
    bool setFaults(QNetworkAccessManager &manager, const QList<FaultSetting> &lSettings, QString *psError);

private:
    SimServers servers;
};
