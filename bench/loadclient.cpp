#include "loadclient.h"

#include "deviceapiinterface.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

const QString sInfoPath = QStringLiteral("/api/system/info/");
const QString sSnapshotPath = QStringLiteral("/api/snapshot/jpeg/?ch=1");
const QString sExpectedFirmware = QStringLiteral("3.2.1");

} // namespace

bool isExpectedInfo(const QByteArray &baJson)
{
    return QJsonDocument::fromJson(baJson).object().value(QLatin1String("swver")).toString() ==
           sExpectedFirmware;
}

bool isExpectedSnapshot(const QByteArray &baJpeg)
{
    return baJpeg.startsWith("\xFF\xD8") && baJpeg.endsWith("\xFF\xD9");
}

QByteArray basicAuthorization()
{
    return "Basic " + QByteArray("admin:secret").toBase64();
}

ReferenceClient::ReferenceClient(const QStringList &lUrlsIn, bool bTick, int iTransferTimeoutMsIn)
    : lUrls(lUrlsIn), baAuthorization(basicAuthorization()), gate(bTick),
      iTransferTimeoutMs(iTransferTimeoutMsIn)
{
}

void ReferenceClient::send(int iRequest, int iDevice, bool bSnapshot)
{
    gate.later([this, iRequest, iDevice, bSnapshot] { prGet(iRequest, iDevice, bSnapshot); });
}

void ReferenceClient::prGet(int iRequest, int iDevice, bool bSnapshot)
{
    QNetworkRequest request(QUrl(lUrls.at(iDevice) + (bSnapshot ? sSnapshotPath : sInfoPath)));
    request.setRawHeader("Authorization", baAuthorization);
    if (iTransferTimeoutMs > 0)
        request.setTransferTimeout(iTransferTimeoutMs);
    QNetworkReply *pReply = manager.get(request);
    connect(pReply, &QNetworkReply::finished, this, [this, pReply, iRequest, bSnapshot] {
        const QByteArray baBody = pReply->readAll();
        const bool bOk = pReply->error() == QNetworkReply::NoError &&
                         (bSnapshot ? isExpectedSnapshot(baBody) : isExpectedInfo(baBody));
        pReply->deleteLater();
        answered(iRequest, bOk);
    });
}

PluginClient::PluginClient(const QString &sPluginPath) : loader(sPluginPath)
{
    pApi = qobject_cast<DeviceApiInterface *>(loader.instance());
    if (!pApi)
        return;
    // A host listens to every signal; the lines are counted, not shown.
    connect(pApi, &DeviceApiInterface::signal_log, this, [this](int, const QString &) { ++iLogLines; });
    connect(pApi, &DeviceApiInterface::signal_progress, this, [](const QString &, int) {});
    connect(pApi, &DeviceApiInterface::signal_apiResponse, this, &PluginClient::onResponse);
    pApi->initApiPlugin(nullptr);
}

// The plugin object belongs to the host; unloading the library is left to process exit.
PluginClient::~PluginClient()
{
    delete loader.instance();
}

void PluginClient::registerDevices(const QStringList &lUrls)
{
    for (int i = 0; i < lUrls.size(); ++i)
        pApi->createDevice(QString::number(i), lUrls.at(i), QStringLiteral("admin"), QStringLiteral("secret"),
                           {QStringLiteral("camera")});
}

void PluginClient::send(int iRequest, int iDevice, bool bSnapshot)
{
    const QString sUuid =
        bSnapshot
            ? pApi->requestApiCommand(QString::number(iDevice), QStringLiteral("API_CMD_SNAPSHOT"), {1})
            : pApi->requestApiCommand(QString::number(iDevice), QStringLiteral("API_CMD_GET_CONFIG"), {});
    hSent.insert(sUuid, {iRequest, bSnapshot});
}

void PluginClient::onResponse(const QString &sUuid, int iError, const QVariantList &lResult)
{
    const auto it = hSent.constFind(sUuid);
    if (it == hSent.constEnd()) {
        ++iUnexpected;
        return;
    }
    const Sent sent = *it;
    hSent.erase(it);
    const QVariant first = lResult.value(0);
    const bool bOk =
        iError == 0 && (sent.bSnapshot ? isExpectedSnapshot(first.toByteArray())
                                       : first.toMap().value(QStringLiteral("API_FW")) == sExpectedFirmware);
    answered(sent.iRequest, bOk);
}
