#ifndef APIKESTROLPLUGIN_H
#define APIKESTROLPLUGIN_H

#include "../interface/deviceapiinterface.h"
#include "apibaseplugin.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QSharedPointer>
#include <QString>
#include <QVariantList>

class ApiRequestCommand;
class KestrolDevice;
class NetworkHandlerKestrol;
class QTimer;

// The plugin object a host obtains from the library.
//
// Lifecycle: constructed by the library's instance export, owned by the host. Until initApiPlugin() runs,
// requests are accepted and queued but nothing is sent. Destroying the plugin destroys its transport,
// timer, an access manager it created itself, every request record and every registered device; requests
// still in flight are then never answered.
//
// Answers: every request submitted with requestApiCommand() gets exactly one signal_apiResponse, emitted
// from the plugin's event loop (never from inside requestApiCommand()).
class ApiKestrolPlugin : public DeviceApiInterface, public ApiBasePlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "qtdeviceapiinterfaceid")
    Q_INTERFACES(DeviceApiInterface)

public:
    ApiKestrolPlugin();
    ~ApiKestrolPlugin() override;

    void initApiPlugin(QNetworkAccessManager *manager) override;
    int createDevice(QString sDeviceId, QString sUrl, QString sUser, QString sPassword,
                     QList<QVariant> lParam) override;
    int changeDevice(QString sDeviceId, QString sUrl, QString sUser, QString sPassword,
                     QList<QVariant> lParam) override;
    int deleteDevice(QString sDeviceId) override;
    QString requestApiCommand(QString sDeviceId, QString sCommand, QList<QVariant> lParam) override;
    QStringList getCommandList() override;
    QString getVesoDeviceType() override;
    QString getVersion() override;
    int getDeviceState(QString sDeviceId) override;
    QString getApiVersion() override;
    QString getPluginName() override;

signals:
    void signal_newApiRequest(QString sUuid, QString sDeviceId, QString sCommand, QVariantList lParam);

private slots:
    void onTimer();
    void onLog(QString sMessage);
    void onRequestFinished(QString sUuid, QByteArray baResult, int iError, QString sText);
    void onNetworkProgress(QString sUuid, int iProgress);
    void onNewApiRequest(QString sUuid, QString sDeviceId, QString sCommand, QVariantList lParam);

protected:
    // Puts an internal login request for the device ahead of every waiting request.
    void prApiCertificateLogin(KestrolDevice *pDevice);

    QMap<QString, QString> mapCommandPaths;
    NetworkHandlerKestrol *pNetworkHandler = nullptr;
    QList<QSharedPointer<ApiRequestCommand>> lNewRequests;
    QHash<QString, QSharedPointer<ApiRequestCommand>> hSentRequests;
    QTimer *pTimer = nullptr;
    QMutex mutexRequests;
};

#endif // APIKESTROLPLUGIN_H
