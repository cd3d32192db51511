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
#include <QTimer>
#include <QVariantList>

class ApiRequestCommand;
class KestrolDevice;
class NetworkHandlerKestrol;

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

    NetworkHandlerKestrol *pNetworkHandler = nullptr;
    QList<QSharedPointer<ApiRequestCommand>> lNewRequests;
    QHash<QString, QSharedPointer<ApiRequestCommand>> hSentRequests;
    QTimer *pTimer = nullptr;
    QMutex mutexRequests;

private:
    enum class ReplyOutcome
    {
        Report,
        NextStep
    };

    // Everything the engine knows of one command.
    struct Command
    {
        // Below the device's base URL; the builder may fill in parameters.
        QString sPath;
        // The fewest parameters the builder reads.
        int iMinParams;
        // A second step: only the engine itself moves a request on to it.
        bool bInternal;
        // Sends the request; false when it refuses to (after a log line), which answers the request with 103.
        bool (ApiKestrolPlugin::*pBuild)(ApiRequestCommand &request, const KestrolDevice &device,
                                         const QString &sPath);
        // Reads the device's reply into the result list; may change the completion code and, for a next
        // step, the request's command and parameters. Null: the completion code is the whole answer.
        ReplyOutcome (ApiKestrolPlugin::*pRead)(ApiRequestCommand &request, const QByteArray &baResult,
                                                int &iError, QVariantList &lResult);
        // The answer of a request that fails before it yields values; a host may index it like a success.
        QVariantList lFailedResult;
    };

    // By command name, in ascending order.
    static const QMap<QString, Command> &prCommandTable();
    // The row a request's command name selects: an internal row only for the engine's own requests.
    static const Command *prCommand(const ApiRequestCommand &request);

    // Scheduler.
    void prAgeDevices();
    void prHandOver();
    void prSendRequest(const QSharedPointer<ApiRequestCommand> &pRequest);
    void prReject(const ApiRequestCommand &request, const Command *pCommand, const QString &sLogLine);
    void prAnswer(QString sUuid, int iError, const QVariantList &lResult);

    // Devices.
    bool prCertificatePin(const QString &sDeviceId, const QList<QVariant> &lParam, QString *psPin);

    // Requests.
    void prSendGet(ApiRequestCommand &request, const KestrolDevice &device, const QString &sUrl,
                   const QString &sDownloadFilename = QString());
    void prSendPost(ApiRequestCommand &request, const KestrolDevice &device, const QString &sUrl,
                    const QString &sUploadFilename = QString(), const QString &sPostName = QString());
    bool prBuildGet(ApiRequestCommand &request, const KestrolDevice &device, const QString &sPath);
    bool prBuildPost(ApiRequestCommand &request, const KestrolDevice &device, const QString &sPath);
    bool prBuildUpload(ApiRequestCommand &request, const KestrolDevice &device, const QString &sPath);
    bool prBuildSettingsExport(ApiRequestCommand &request, const KestrolDevice &device, const QString &sPath);
    bool prBuildSettingsDownload(ApiRequestCommand &request, const KestrolDevice &device,
                                 const QString &sPath);
    bool prBuildCounterValues(ApiRequestCommand &request, const KestrolDevice &device, const QString &sPath);
    bool prBuildCounterList(ApiRequestCommand &request, const KestrolDevice &device, const QString &sPath);
    bool prBuildSnapshot(ApiRequestCommand &request, const KestrolDevice &device, const QString &sPath);

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

    // Requests taken from lNewRequests and not yet handed to the transport, oldest first. A tick hands
    // over what fits in its time budget and leaves the rest to timerHandOver, which fires from the event
    // loop right after; a later tick adds its requests behind them.
    QList<QSharedPointer<ApiRequestCommand>> lHandOver;
    QTimer timerHandOver;
    // Devices whose certificate countdown runs; the others need no tick of their own.
    QSet<KestrolDevice *> setCountingDevices;
};

#endif // APIKESTROLPLUGIN_H
