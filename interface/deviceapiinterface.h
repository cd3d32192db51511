#ifndef DEVICEAPIINTERFACE_H
#define DEVICEAPIINTERFACE_H

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QtPlugin>

class QNetworkAccessManager;

// The contract between a host application and a device-API plugin.
//
// Lifecycle: the host obtains the one plugin object through QPluginLoader::instance(), casts it with
// qobject_cast<DeviceApiInterface *>, connects the four signals, calls initApiPlugin() once, registers
// devices with createDevice() and then requests commands. The host owns the plugin object; destroying it
// ends every request in flight without an answer.
//
// Requests: requestApiCommand() returns a fresh request identifier at once and never answers from inside
// the call. The outcome arrives later, from the plugin's event loop, as exactly one signal_apiResponse with
// that identifier. requestApiCommand() may be called from any thread; every other operation is to be
// called in the thread that owns the plugin object, and every signal is emitted from that thread.
//
// Completion codes of signal_apiResponse: 0 success, 101 credentials refused or missing, 103 any other
// failure (network, HTTP status, time-out, bad request). Whatever the code, API_CMD_GET_CONFIG and
// API_CMD_SNAPSHOT answer exactly one element (a map with "API_FW" and "API_MAC", a byte array).
class DeviceApiInterface : public QObject
{
    Q_OBJECT

public:
    explicit DeviceApiInterface(QObject *parent = nullptr) : QObject(parent) {}

    // Gives the plugin its network access manager (null: the plugin makes its own) and starts sending.
    virtual void initApiPlugin(QNetworkAccessManager *manager) = 0;
    // sUrl: the device's http or https base URL. lParam: [kind, certificate pin], both optional; the pin is
    // the SHA-256 fingerprint of the device's certificate or public key (64 hex digits, ':' pairs allowed,
    // optionally after "sha256:"). 0: registered; 1: the id is already registered, or the pin cannot be read.
    virtual int createDevice(QString sDeviceId, QString sUrl, QString sUser, QString sPassword,
                             QList<QVariant> lParam) = 0;
    // 0: URL, user and password replaced, and the pin when lParam has a second element (an empty one clears
    // it; without one the pin stays); 1: no such device, or the pin cannot be read (nothing changes).
    virtual int changeDevice(QString sDeviceId, QString sUrl, QString sUser, QString sPassword,
                             QList<QVariant> lParam) = 0;
    // 0: removed; 1: no such device.
    virtual int deleteDevice(QString sDeviceId) = 0;
    virtual QString requestApiCommand(QString sDeviceId, QString sCommand, QList<QVariant> lParam) = 0;
    virtual QStringList getCommandList() = 0;
    virtual QString getVesoDeviceType() = 0;
    virtual QString getVersion() = 0;
    virtual int getDeviceState(QString sDeviceId) = 0;
    virtual QString getApiVersion() = 0;
    virtual QString getPluginName() = 0;

signals:
    // One log line; the level is always 0.
    void signal_log(int iLevel, QString sMessage);
    // The one answer to a request: its identifier, the completion code and the command's result values.
    void signal_apiResponse(QString sUuid, int iError, QVariantList lResult);
    // A device's authentication state; declared for hosts, not emitted by this plugin.
    void signal_state(QString sDeviceId, int iAuth);
    // Transfer progress of a request in whole percent (0 to 100).
    void signal_progress(QString sUuid, int iProgress);
};

Q_DECLARE_INTERFACE(DeviceApiInterface, "qtdeviceapiinterfaceid")

#endif // DEVICEAPIINTERFACE_H
