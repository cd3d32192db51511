#ifndef KESTROLCTL_PLUGINCALLS_H
#define KESTROLCTL_PLUGINCALLS_H

#include "failurereason.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QVariantList>

#include <functional>

class PluginHost;
class QTimer;

struct CallResult
{
    QString sUuid;
    bool bAnswered = false;
    int iCode = -1;
    QVariantList lResult;
    Reason reason; // empty on success
};

// Submits commands to the plugin and routes what comes back by request identifier: the answer to the
// caller's callback, log lines and progress to the device whose request they name.
class PluginCalls : public QObject
{
    Q_OBJECT

public:
    PluginCalls(PluginHost *pHost, int iTimeoutMs, QObject *parent = nullptr);

    // Requests a command on a registered device. done runs once, from the event loop, with the answer, or
    // without one after the time-out. bUploads: the command sends a local file (see FailureReason).
    void call(const QString &sDeviceId, const QString &sApiName, const QVariantList &lParam, bool bUploads,
              std::function<void(const CallResult &)> done);

signals:
    // A log line and the device whose request it names: by its identifier, or, for a line without one, the
    // device of the only request in flight. Empty when neither tells.
    void signal_log(QString sDeviceId, QString sMessage);
    void signal_progress(QString sDeviceId, int iPercent);

private slots:
    void onApiResponse(QString sUuid, int iError, QVariantList lResult);
    void onProgress(QString sUuid, int iProgress);
    void onLog(QString sMessage);

private:
    struct Call
    {
        QString sDeviceId;
        FailureReason reason;
        std::function<void(const CallResult &)> done;
        QTimer *pTimer = nullptr;
    };

    void finish(CallResult result);

    PluginHost *pHost;
    int iTimeoutMs;
    QHash<QString, Call> hCalls;
    QHash<QString, QString> hDeviceByUuid; // every request of the run, for lines that come after its answer
};

#endif // KESTROLCTL_PLUGINCALLS_H
