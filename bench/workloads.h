// The load shapes, each run by one client in its own process. Every request asks device (request number
// modulo devices) for its info, every 4th for a snapshot. Results are JSON objects for the driver.
#pragma once

#include <QJsonObject>
#include <QStringList>

class LoadClient;
class PluginClient;

namespace Workloads {

// Every request at once; a host timer of 10 ms measures how late the host's event loop lets it fire.
QJsonObject burst(LoadClient &client, int iRequests, int iDevices, int iCapMs);
// Each poller sends its next request as soon as its previous one is answered; poller p uses device p.
QJsonObject chain(LoadClient &client, int iPollers, int iLength, int iCapMs);
// iRate requests a second for iSeconds, with the latency of each.
QJsonObject paced(LoadClient &client, int iRate, int iSeconds, int iDevices, int iCapMs);
// CPU per 100 ms of a plugin with nothing to do, without devices and then with lUrls registered.
QJsonObject idle(PluginClient &client, const QStringList &lUrls, int iSeconds);

} // namespace Workloads
