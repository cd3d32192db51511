#include "apikestrolplugin.h"

#include "apirequestcommand.h"
#include "kestroldevice.h"
#include "networkhandlerkestrol.h"

#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QTimer>
#include <QUuid>

namespace {

QString deviceKindFromParams(const QList<QVariant> &lParam)
{
    if (lParam.isEmpty())
        return QStringLiteral("unknown");
    const QString sText = lParam.first().toString();
    if (sText.contains(QLatin1String("camera"), Qt::CaseInsensitive))
        return QStringLiteral("camera");
    if (sText.contains(QLatin1String("recorder"), Qt::CaseInsensitive))
        return QStringLiteral("recorder");
    return QStringLiteral("unknown");
}

} // namespace

ApiKestrolPlugin::ApiKestrolPlugin()
{
    sPluginName = QStringLiteral("ApiPlugin_AI");
    sVersion = QStringLiteral("1.0");
    sVesoDeviceType = QStringLiteral("9");

    mapCommandPaths.insert(QStringLiteral("API_CMD_GET_CONFIG"), QStringLiteral("/api/system/info/"));
    mapCommandPaths.insert(QStringLiteral("API_CMD_LOGIN_CHECK"), QStringLiteral("/api/system/info/"));
    mapCommandPaths.insert(QStringLiteral("API_CMD_RESTART"),
                           QStringLiteral("/api/system/management/reboot/"));
    mapCommandPaths.insert(QStringLiteral("API_CMD_RESET_SOFT"),
                           QStringLiteral("/api/system/management/factory_default/"));
    mapCommandPaths.insert(QStringLiteral("API_CMD_SETTINGS_LOAD"),
                           QStringLiteral("/api/system/management/db/import/"));
    mapCommandPaths.insert(QStringLiteral("API_CMD_SETTINGS_SAVE"),
                           QStringLiteral("/api/system/management/db/export/"));
    mapCommandPaths.insert(QStringLiteral("API_CMD_FIRMWARE_UPDATE"),
                           QStringLiteral("/api/system/management/fwupdate/upload/"));
    mapCommandPaths.insert(QStringLiteral("API_CMD_AICOUNTER_GET"),
                           QStringLiteral("/api/bi/counter/statistics/"));
    mapCommandPaths.insert(QStringLiteral("API_CMD_AICOUNTER_LIST"),
                           QStringLiteral("/api/bi/counter/statistics/"));
    mapCommandPaths.insert(QStringLiteral("API_CMD_SNAPSHOT"), QStringLiteral("/api/snapshot/jpeg/?ch=%1"));

    lCommands.append(mapCommandPaths.keys());

    connect(this, SIGNAL(signal_newApiRequest(QString, QString, QString, QVariantList)), this,
            SLOT(onNewApiRequest(QString, QString, QString, QVariantList)));
}

ApiKestrolPlugin::~ApiKestrolPlugin()
{
    qDeleteAll(hDevices);
    hDevices.clear();
}

void ApiKestrolPlugin::initApiPlugin(QNetworkAccessManager *manager)
{
    // One transport and one timer for the plugin's life; a repeated call changes nothing.
    if (pNetworkHandler)
        return;
    if (!manager)
        manager = new QNetworkAccessManager(this);

    pNetworkHandler = new NetworkHandlerKestrol(manager, this);
    connect(pNetworkHandler, SIGNAL(signal_log(QString)), this, SLOT(onLog(QString)));
    connect(pNetworkHandler, SIGNAL(signal_requestFinished(QString, QByteArray, int, QString)), this,
            SLOT(onRequestFinished(QString, QByteArray, int, QString)));
    connect(pNetworkHandler, SIGNAL(signal_progress(QString, int)), this,
            SLOT(onNetworkProgress(QString, int)));

    pTimer = new QTimer(this);
    pTimer->setInterval(100);
    connect(pTimer, SIGNAL(timeout()), this, SLOT(onTimer()));
    pTimer->start();
}

int ApiKestrolPlugin::createDevice(QString sDeviceId, QString sUrl, QString sUser, QString sPassword,
                                   QList<QVariant> lParam)
{
    if (getDevice(sDeviceId))
        return 1;
    addDevice(sDeviceId, new KestrolDevice(sDeviceId, sUrl, sUser, sPassword, deviceKindFromParams(lParam)));
    return 0;
}

int ApiKestrolPlugin::changeDevice(QString sDeviceId, QString sUrl, QString sUser, QString sPassword,
                                   QList<QVariant> lParam)
{
    Q_UNUSED(lParam)
    auto *pDevice = qobject_cast<KestrolDevice *>(getDevice(sDeviceId));
    if (!pDevice)
        return 1;
    pDevice->setUrl(sUrl);
    pDevice->setUser(sUser);
    pDevice->setPassword(sPassword);
    return 0;
}

int ApiKestrolPlugin::deleteDevice(QString sDeviceId)
{
    // Requests hold the device id, not the object, so queued ones simply find no device any more.
    Device *pDevice = takeDevice(sDeviceId);
    if (!pDevice)
        return 1;
    delete pDevice;
    return 0;
}

QString ApiKestrolPlugin::requestApiCommand(QString sDeviceId, QString sCommand, QList<QVariant> lParam)
{
    const QString sUuid = QUuid::createUuid().toString();
    emit signal_newApiRequest(sUuid, sDeviceId, sCommand, lParam);
    return sUuid;
}

QStringList ApiKestrolPlugin::getCommandList()
{
    return lCommands;
}

QString ApiKestrolPlugin::getVesoDeviceType()
{
    return sVesoDeviceType;
}

QString ApiKestrolPlugin::getVersion()
{
    return sVersion;
}

int ApiKestrolPlugin::getDeviceState(QString sDeviceId)
{
    Q_UNUSED(sDeviceId)
    return 0;
}

QString ApiKestrolPlugin::getApiVersion()
{
    return QStringLiteral("1.0");
}

QString ApiKestrolPlugin::getPluginName()
{
    return sPluginName;
}

void ApiKestrolPlugin::onLog(QString sMessage)
{
    emit signal_log(0, sMessage);
}

void ApiKestrolPlugin::onNetworkProgress(QString sUuid, int iProgress)
{
    emit signal_progress(sUuid, iProgress);
}

void ApiKestrolPlugin::onNewApiRequest(QString sUuid, QString sDeviceId, QString sCommand,
                                       QVariantList lParam)
{
    QSharedPointer<ApiRequestCommand> pRequest(
        new ApiRequestCommand(sUuid, sDeviceId, sCommand, lParam, this));
    QMutexLocker locker(&mutexRequests);
    lNewRequests.append(pRequest);
}

void ApiKestrolPlugin::prApiCertificateLogin(KestrolDevice *pDevice)
{
    QSharedPointer<ApiRequestCommand> pRequest(
        new ApiRequestCommand(QUuid::createUuid().toString(), pDevice->getId(),
                              QStringLiteral("API_CMD_INTERNAL_LOGIN"), {}, this));
    setInternalRequests.insert(pRequest->sUuid);
    QMutexLocker locker(&mutexRequests);
    lNewRequests.prepend(pRequest);
}
