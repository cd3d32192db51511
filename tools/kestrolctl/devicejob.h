#ifndef KESTROLCTL_DEVICEJOB_H
#define KESTROLCTL_DEVICEJOB_H

#include "outcome.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class KnownDevices;
class PluginCalls;
class PluginHost;
class QTimer;
struct CallResult;

struct JobSettings
{
    int iRetries = 0;
    bool bVerify = false;      // firmware-update: the device must come back with another version
    int iRebootTimeoutMs = 0;  // how long --verify waits for that
    bool bAllCounters = false; // counter --all
    KnownDevices *pKnownDevices = nullptr;
};

// Everything one device goes through in a run: its certificate checked against the known devices,
// registration with the plugin, the firmware version read before an update, the command itself (with
// retries), and the wait for the device to come back with a new version.
class DeviceJob : public QObject
{
    Q_OBJECT

public:
    DeviceJob(const PlannedRequest &request, PluginHost *pHost, PluginCalls *pCalls,
              const JobSettings &settings, QObject *parent = nullptr);

    void start();
    const Outcome &outcome() const { return result; }

signals:
    void signal_finished();
    void signal_log(QString sDeviceId, QString sMessage);
    void signal_note(QString sText);

private:
    void prCheckCertificate();
    void prBegin(const QString &sPin);
    void prRunCommand();
    void prNextCounter(QStringList lNames);
    void prPoll();
    void prOnPolled(const CallResult &call);
    void prOnRebootTimeout();
    // Sends a command, retrying what is worth it; onSuccess runs on code 0, any other end fails the job.
    void prCall(const QString &sApiName, const QVariantList &lParam,
                std::function<void(const CallResult &)> onSuccess, int iAttempt = 0);
    void prFinish(Status status, const QString &sReason = QString());

    PluginHost *pHost;
    PluginCalls *pCalls;
    JobSettings settings;
    Outcome result;
    QElapsedTimer elapsed;
    QTimer *pRebootDeadline = nullptr;
    bool bSeenAway = false; // --verify: the device stopped answering after the update
    QString sLastPollReason;
    bool bFinished = false;
};

#endif // KESTROLCTL_DEVICEJOB_H
