#include "runner.h"

#include "plugincalls.h"

#include <QEventLoop>

Runner::Runner(PluginHost *pHost, const RunSettings &settings, QObject *parent)
    : QObject(parent), pHost(pHost), settings(settings)
{
}

QList<Outcome> Runner::run(const QList<PlannedRequest> &lRequests)
{
    lPlanned = lRequests;
    lOutcomes.clear();
    for (const PlannedRequest &request : lRequests) {
        Outcome outcome;
        outcome.request = request;
        lOutcomes.append(outcome);
    }
    iNext = iRunning = iDoneCount = 0;
    bTransferSeen = false;
    hProgress.clear();
    PluginCalls calls(pHost, settings.iTimeoutMs);
    pCalls = &calls;
    connect(&calls, &PluginCalls::signal_log, this, &Runner::signal_log);
    connect(&calls, &PluginCalls::signal_progress, this, &Runner::onProgress);
    prStartJobs();
    if (iDoneCount < lPlanned.size()) {
        QEventLoop loop;
        pLoop = &loop;
        loop.exec();
        pLoop = nullptr;
    }
    pCalls = nullptr;
    return lOutcomes;
}

void Runner::prStartJobs()
{
    const int iCanary = qMin(settings.iCanary, int(lPlanned.size()));
    while (iRunning < settings.iParallel && iNext < lPlanned.size()) {
        if (iNext == iCanary && iCanary > 0) {
            // The canaries are the first devices started, and nothing else starts before they all ended.
            if (iDoneCount < iCanary)
                return;
            for (int i = 0; i < iCanary; ++i) {
                if (lOutcomes.at(i).status != Status::Ok) {
                    prSkipRest(lOutcomes.at(i).request.device.sId);
                    return;
                }
            }
        }
        const int iIndex = iNext++;
        ++iRunning;
        auto *pJob = new DeviceJob(lPlanned.at(iIndex), pHost, pCalls, settings.job, this);
        connect(pJob, &DeviceJob::signal_log, this, &Runner::signal_log);
        connect(pJob, &DeviceJob::signal_note, this, &Runner::signal_note);
        connect(pJob, &DeviceJob::signal_finished, this, [this, pJob, iIndex] {
            --iRunning;
            hProgress.remove(pJob->outcome().request.device.sId);
            prRecord(iIndex, pJob->outcome());
            prStartJobs();
        });
        pJob->start();
    }
}

void Runner::prSkipRest(const QString &sCanary)
{
    while (iNext < lPlanned.size()) {
        Outcome outcome = lOutcomes.at(iNext);
        outcome.status = Status::Skipped;
        outcome.sReason = QStringLiteral("not started: canary %1 failed").arg(sCanary);
        prRecord(iNext++, outcome);
    }
}

void Runner::prRecord(int iIndex, const Outcome &outcome)
{
    lOutcomes[iIndex] = outcome;
    ++iDoneCount;
    emit signal_finished(outcome);
    if (iDoneCount == lPlanned.size() && pLoop)
        pLoop->quit();
}

void Runner::onProgress(QString sDeviceId, int iPercent)
{
    // A two-step command reports each step's percentages; a device's share never runs backwards.
    int &iShare = hProgress[sDeviceId];
    iShare = qBound(iShare, iPercent, 100);
    // Small replies arrive in one piece; only a transfer seen part-way through is worth a bar.
    bTransferSeen = bTransferSeen || iPercent < 100;
    if (!bTransferSeen)
        return;
    int iSum = iDoneCount * 100;
    for (int iRunningShare : qAsConst(hProgress))
        iSum += iRunningShare;
    emit signal_progress(iSum / int(lPlanned.size()), iRunning, iDoneCount, int(lPlanned.size()));
}
