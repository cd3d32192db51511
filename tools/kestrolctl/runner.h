#ifndef KESTROLCTL_RUNNER_H
#define KESTROLCTL_RUNNER_H

#include "devicejob.h"
#include "outcome.h"

#include <QHash>
#include <QList>
#include <QObject>

class PluginCalls;
class PluginHost;
class QEventLoop;

struct RunSettings
{
    JobSettings job;
    int iParallel = 1;  // devices in flight at once
    int iCanary = 0;    // devices that run, and must succeed, before any other starts
    int iTimeoutMs = 0; // for each answer
};

// Runs a command on many devices through the one plugin, at most iParallel at a time, canaries first, and
// waits in a local event loop until every device has its outcome. Outcomes are announced as they arrive.
class Runner : public QObject
{
    Q_OBJECT

public:
    Runner(PluginHost *pHost, const RunSettings &settings, QObject *parent = nullptr);

    QList<Outcome> run(const QList<PlannedRequest> &lRequests);

signals:
    void signal_finished(Outcome outcome);
    // Mean progress in percent over the run (finished devices count as 100), once some transfer of the run
    // has been seen part-way through.
    void signal_progress(int iPercent, int iRunning, int iDone, int iTotal);
    void signal_log(QString sDeviceId, QString sMessage);
    void signal_note(QString sText);

private slots:
    void onProgress(QString sDeviceId, int iPercent);

private:
    void prStartJobs();
    void prSkipRest(const QString &sCanary);
    void prRecord(int iIndex, const Outcome &outcome);

    PluginHost *pHost;
    RunSettings settings;
    PluginCalls *pCalls = nullptr;
    QList<PlannedRequest> lPlanned;
    QList<Outcome> lOutcomes;
    QHash<QString, int> hProgress; // highest percentage of each running device
    int iNext = 0;
    int iRunning = 0;
    int iDoneCount = 0;
    bool bTransferSeen = false;
    QEventLoop *pLoop = nullptr;
};

#endif // KESTROLCTL_RUNNER_H
