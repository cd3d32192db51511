#include "apikestrolplugin.h"

#include "apirequestcommand.h"
#include "certificatepin.h"
#include "kestroldevice.h"
#include "logtext.h"
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

    const QMap<QString, Command> &mapCommands = prCommandTable();
    for (auto it = mapCommands.cbegin(); it != mapCommands.cend(); ++it) {
        if (!it->bInternal)
            lCommands.append(it.key());
    }

    connect(this, &ApiKestrolPlugin::signal_newApiRequest, this, &ApiKestrolPlugin::onNewApiRequest);

    timerHandOver.setSingleShot(true);
    timerHandOver.setInterval(0);
    connect(&timerHandOver, &QTimer::timeout, this, &ApiKestrolPlugin::prHandOver);
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
    connect(pNetworkHandler, &NetworkHandlerKestrol::signal_log, this, &ApiKestrolPlugin::onLog);
    connect(pNetworkHandler, &NetworkHandlerKestrol::signal_requestFinished, this,
            &ApiKestrolPlugin::onRequestFinished);
    connect(pNetworkHandler, &NetworkHandlerKestrol::signal_progress, this,
            &ApiKestrolPlugin::onNetworkProgress);

    pTimer = new QTimer(this);
    pTimer->setInterval(100);
    connect(pTimer, &QTimer::timeout, this, &ApiKestrolPlugin::onTimer);
    pTimer->start();
}

int ApiKestrolPlugin::createDevice(QString sDeviceId, QString sUrl, QString sUser, QString sPassword,
                                   QList<QVariant> lParam)
{
    QString sPin;
    if (getDevice(sDeviceId) || !prCertificatePin(sDeviceId, lParam, &sPin))
        return 1;
    auto *pDevice = new KestrolDevice(sDeviceId, sUrl, sUser, sPassword, deviceKindFromParams(lParam));
    pDevice->setCertificatePin(sPin);
    connect(pDevice, &KestrolDevice::signal_countdownStarted, this,
            [this, pDevice]() { setCountingDevices.insert(pDevice); });
    addDevice(sDeviceId, pDevice);
    return 0;
}

// The pin is replaced only when the host gives one (an empty one clears it): hosts that change a device
// with an empty list keep its pin.
int ApiKestrolPlugin::changeDevice(QString sDeviceId, QString sUrl, QString sUser, QString sPassword,
                                   QList<QVariant> lParam)
{
    auto *pDevice = qobject_cast<KestrolDevice *>(getDevice(sDeviceId));
    QString sPin;
    if (!pDevice || !prCertificatePin(sDeviceId, lParam, &sPin))
        return 1;
    if (lParam.size() > 1)
        pDevice->setCertificatePin(sPin);
    pDevice->setUrl(sUrl);
    pDevice->setUser(sUser);
    pDevice->setPassword(sPassword);
    return 0;
}

// The second parameter of a device, when there is one, is its certificate pin. A pin that cannot be read
// refuses the whole call: registering the device unpinned would silently drop the check the host asked for.
bool ApiKestrolPlugin::prCertificatePin(const QString &sDeviceId, const QList<QVariant> &lParam,
                                        QString *psPin)
{
    if (CertificatePin::parse(lParam.value(1), psPin))
        return true;
    onLog(QStringLiteral("Invalid certificate pin: %1 (%2)")
              .arg(LogText::escaped(lParam.value(1).toString()), LogText::escaped(sDeviceId)));
    return false;
}

int ApiKestrolPlugin::deleteDevice(QString sDeviceId)
{
    // Requests hold the device id, not the object, so queued ones simply find no device any more.
    Device *pDevice = takeDevice(sDeviceId);
    if (!pDevice)
        return 1;
    setCountingDevices.remove(qobject_cast<KestrolDevice *>(pDevice));
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
    auto pRequest = QSharedPointer<ApiRequestCommand>::create(std::move(sUuid), std::move(sDeviceId),
                                                              std::move(sCommand), std::move(lParam));
    QMutexLocker locker(&mutexRequests);
    lNewRequests.append(pRequest);
}

void ApiKestrolPlugin::prApiCertificateLogin(KestrolDevice *pDevice)
{
    auto pRequest =
        QSharedPointer<ApiRequestCommand>::create(QUuid::createUuid().toString(), pDevice->getId(),
                                                  QStringLiteral("API_CMD_INTERNAL_LOGIN"), QVariantList());
    pRequest->bInternal = true;
    QMutexLocker locker(&mutexRequests);
    lNewRequests.prepend(pRequest);
}
