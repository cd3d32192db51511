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

ReferenceClient::ReferenceClient(const QStringList &lUrlsIn, bool bTickIn)
    : lUrls(lUrlsIn), baAuthorization(basicAuthorization()), bTick(bTickIn)
{
    if (bTick) {
        tick.setInterval(100);
        connect(&tick, &QTimer::timeout, this, &ReferenceClient::onTick);
        tick.start();
    }
}

void ReferenceClient::send(int iRequest, int iDevice, bool bSnapshot)
{
    if (bTick)
        lWaiting.append({iRequest, iDevice, bSnapshot});
    else
        prGet({iRequest, iDevice, bSnapshot});
}

void ReferenceClient::onTick()
{
    QList<Waiting> lTaken;
    lTaken.swap(lWaiting);
    for (const Waiting &waiting : qAsConst(lTaken))
        prGet(waiting);
}

void ReferenceClient::prGet(const Waiting &waiting)
{
    QNetworkRequest request(
        QUrl(lUrls.at(waiting.iDevice) + (waiting.bSnapshot ? sSnapshotPath : sInfoPath)));
    request.setRawHeader("Authorization", baAuthorization);
    QNetworkReply *pReply = manager.get(request);
    connect(pReply, &QNetworkReply::finished, this, [this, pReply, waiting] {
        const QByteArray baBody = pReply->readAll();
        const bool bOk = pReply->error() == QNetworkReply::NoError &&
                         (waiting.bSnapshot ? isExpectedSnapshot(baBody) : isExpectedInfo(baBody));
        pReply->deleteLater();
        answered(waiting.iRequest, bOk);
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
