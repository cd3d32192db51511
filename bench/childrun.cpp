#include "childrun.h"

#include "loadclient.h"
#include "transfers.h"
#include "workloads.h"

#include <QFile>
#include <QJsonDocument>

#include <cstdio>
#include <memory>

#include <unistd.h>

namespace {

QStringList deviceUrls(const QJsonObject &spec)
{
    QFile file(spec.value("urls").toString());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n').mid(0, spec.value("devices").toInt());
}

QJsonObject runTransfer(const QJsonObject &spec, PluginClient *pPlugin)
{
    Transfers::Job job;
    job.sBaseUrl = spec.value("device").toString();
    job.sPath = spec.value("path").toString();
    job.iBytes = qint64(spec.value("bytes").toDouble());
    job.iCapMs = spec.value("capMs").toInt();
    job.bTick = spec.value("client") == QLatin1String("reference-tick");
    if (pPlugin)
        pPlugin->registerDevices({job.sBaseUrl});
    return spec.value("workload") == QLatin1String("backup") ? Transfers::backup(pPlugin, job)
                                                             : Transfers::upload(pPlugin, job);
}

QJsonObject runWorkload(const QJsonObject &spec)
{
    const QString sWorkload = spec.value("workload").toString();
    const QString sClient = spec.value("client").toString();
    const int iCapMs = spec.value("capMs").toInt();

    std::unique_ptr<PluginClient> pPlugin;
    if (sClient == QLatin1String("plugin")) {
        pPlugin = std::make_unique<PluginClient>(spec.value("plugin").toString());
        if (!pPlugin->isLoaded())
            return {{"error", pPlugin->errorString()}};
    }
    if (sWorkload == QLatin1String("backup") || sWorkload == QLatin1String("upload"))
        return runTransfer(spec, pPlugin.get());
    const QStringList lUrls = deviceUrls(spec);
    if (sWorkload == QLatin1String("idle"))
        return pPlugin ? Workloads::idle(*pPlugin, lUrls, spec.value("seconds").toInt())
                       : QJsonObject{{"error", "idle runs the plugin only"}};
    if (lUrls.isEmpty())
        return {{"error", "no devices"}};

    std::unique_ptr<ReferenceClient> pReference;
    LoadClient *pClient = pPlugin.get();
    if (pPlugin) {
        pPlugin->registerDevices(lUrls);
    } else {
        // The plugin's default inactivity limit.
        const int iTransferTimeoutMs = sClient == QLatin1String("reference-timeout") ? 60000 : 0;
        pReference = std::make_unique<ReferenceClient>(lUrls, sClient == QLatin1String("reference-tick"),
                                                       iTransferTimeoutMs);
        pClient = pReference.get();
    }
    if (sWorkload == QLatin1String("burst"))
        return Workloads::burst(*pClient, spec.value("requests").toInt(), lUrls.size(), iCapMs);
    if (sWorkload == QLatin1String("chain"))
        return Workloads::chain(*pClient, spec.value("pollers").toInt(), spec.value("length").toInt(),
                                iCapMs);
    if (sWorkload == QLatin1String("paced"))
        return Workloads::paced(*pClient, spec.value("rate").toInt(), spec.value("seconds").toInt(),
                                lUrls.size(), iCapMs);
    return {{"error", "unknown workload " + sWorkload}};
}

} // namespace

void reportAndExit(const QJsonObject &result)
{
    const QByteArray baResult = QJsonDocument(result).toJson(QJsonDocument::Compact) + '\n';
    std::fputs(baResult.constData(), stdout);
    std::fflush(stdout);
    _exit(0);
}

int runChild(const QJsonObject &spec)
{
    reportAndExit(runWorkload(spec));
}
