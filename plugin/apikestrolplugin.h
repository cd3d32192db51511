#ifndef APIKESTROLPLUGIN_H
#define APIKESTROLPLUGIN_H

#include "../interface/deviceapiinterface.h"
#include "apibaseplugin.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QSet>
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

private:
    // Identifiers of requests the plugin made itself; the host never hears of them.
    QSet<QString> setInternalRequests;

    // The request of one command: the fewest parameters it reads and the member that sends it. A builder
    // returns false when it refuses to send; the tick then answers the request with 103.
    struct RequestBuilder
    {
        int iMinParams;
        bool (ApiKestrolPlugin::*pBuild)(ApiRequestCommand &request, const KestrolDevice &device);
    };
    enum class ReplyOutcome
    {
        Report,
        NextStep
    };
    // Reads a device reply into the result list; may change the completion code and, for a next step,
    // the request's command and parameters.
    using ReplyInterpreter = ReplyOutcome (ApiKestrolPlugin::*)(ApiRequestCommand &request,
                                                                const QByteArray &baResult, int &iError,
                                                                QVariantList &lResult);

    static const QHash<QString, RequestBuilder> &prRequestBuilders();
    static const QHash<QString, ReplyInterpreter> &prReplyInterpreters();

    // Scheduler.
    void prAgeDevices();
    void prSendRequest(const QSharedPointer<ApiRequestCommand> &pRequest);
    void prRejectRequest(const ApiRequestCommand &request, const QString &sLogLine);
    void prAnswer(QString sUuid, int iError, const QVariantList &lResult);

    // Requests.
    void prSendGet(const ApiRequestCommand &request, const KestrolDevice &device, const QString &sUrl,
                   const QString &sDownloadFilename = QString());
    void prSendPost(const ApiRequestCommand &request, const KestrolDevice &device, const QString &sUrl,
                    const QString &sUploadFilename = QString(), const QString &sPostName = QString());
    bool prBuildTableGet(ApiRequestCommand &request, const KestrolDevice &device);
    bool prBuildTablePost(ApiRequestCommand &request, const KestrolDevice &device);
    bool prBuildUpload(ApiRequestCommand &request, const KestrolDevice &device);
    bool prBuildSettingsExport(ApiRequestCommand &request, const KestrolDevice &device);
    bool prBuildSettingsDownload(ApiRequestCommand &request, const KestrolDevice &device);
    bool prBuildFirmwareProgress(ApiRequestCommand &request, const KestrolDevice &device);
    bool prBuildCounterValues(ApiRequestCommand &request, const KestrolDevice &device);
    bool prBuildCounterList(ApiRequestCommand &request, const KestrolDevice &device);
    bool prBuildSnapshot(ApiRequestCommand &request, const KestrolDevice &device);

    // Replies.
    ReplyOutcome prReadDeviceInfo(ApiRequestCommand &request, const QByteArray &baResult, int &iError,
                                  QVariantList &lResult);
    ReplyOutcome prReadSettingsExport(ApiRequestCommand &request, const QByteArray &baResult, int &iError,
                                      QVariantList &lResult);
    ReplyOutcome prReadSettingsDownload(ApiRequestCommand &request, const QByteArray &baResult, int &iError,
                                        QVariantList &lResult);
    ReplyOutcome prReadFirmwareUpload(ApiRequestCommand &request, const QByteArray &baResult, int &iError,
                                      QVariantList &lResult);
    ReplyOutcome prReadFirmwareProgress(ApiRequestCommand &request, const QByteArray &baResult, int &iError,
                                        QVariantList &lResult);
    ReplyOutcome prReadCounterValues(ApiRequestCommand &request, const QByteArray &baResult, int &iError,
                                     QVariantList &lResult);
    ReplyOutcome prReadCounterList(ApiRequestCommand &request, const QByteArray &baResult, int &iError,
                                   QVariantList &lResult);
    ReplyOutcome prReadSnapshot(ApiRequestCommand &request, const QByteArray &baResult, int &iError,
                                QVariantList &lResult);
};

#endif // APIKESTROLPLUGIN_H
