// One large transfer with one device: a settings backup streamed to a file, or a firmware upload, by the
// plugin or by a host that writes the same HTTP exchange with QNetworkAccessManager itself.
#pragma once

#include <QJsonObject>
#include <QString>

class PluginClient;

namespace Transfers {

struct Job
{
    QString sBaseUrl;  // the device
    QString sPath;     // backup: directory to write into; upload: the image
    qint64 iBytes = 0; // expected size of the backup, or the image's size
    int iCapMs = 0;
    bool bTick = false; // the hand-written host waits for a 100 ms tick before each request, as the plugin
};

// pPlugin null: the hand-written host. Result: complete, ok, elapsedMs, cpuMs, rssBeforeKib, growthKib.
QJsonObject backup(PluginClient *pPlugin, const Job &job);
QJsonObject upload(PluginClient *pPlugin, const Job &job);

} // namespace Transfers
