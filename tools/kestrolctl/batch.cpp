#include "batch.h"

#include "commands.h"
#include "deviceapiinterface.h"
#include "pluginhost.h"
#include "results.h"

#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>

Batch::Batch(PluginHost *pHost, QObject *parent) : QObject(parent), pHost(pHost)
{
    connect(pHost, SIGNAL(signal_apiResponse(QString, int, QVariantList)), this,
            SLOT(onApiResponse(QString, int, QVariantList)));
    connect(pHost, SIGNAL(signal_progress(QString, int)), this, SLOT(onProgress(QString, int)));
    connect(pHost, SIGNAL(signal_log(QString)), this, SLOT(onLog(QString)));
}

QList<Outcome> Batch::run(const QList<PlannedRequest> &lRequests, int iTimeoutMs)
{
    lOutcomes.clear();
    hIndexByUuid.clear();
    bTransferSeen = false;
    iProgressSum = 0;
    elapsed.start();
    for (const PlannedRequest &request : lRequests) {
        Outcome outcome;
        outcome.request = request;
        outcome.sUuid =
            pHost->api()->requestApiCommand(request.device.sId, request.pEntry->sApiName, request.lParam);
        hIndexByUuid.insert(outcome.sUuid, lOutcomes.size());
        lOutcomes.append(outcome);
    }
    iOpen = lOutcomes.size();
    if (iOpen > 0) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(iTimeoutMs);
        pLoop = &loop;
        loop.exec();
        pLoop = nullptr;
    }
    for (Outcome &outcome : lOutcomes) {
        if (!outcome.bAnswered)
            outcome.iElapsedMs = elapsed.elapsed();
    }
    hIndexByUuid.clear();
    return lOutcomes;
}

void Batch::onApiResponse(QString sUuid, int iError, QVariantList lResult)
{
    const auto it = hIndexByUuid.constFind(sUuid);
    if (it == hIndexByUuid.constEnd() || lOutcomes.at(*it).bAnswered)
        return;
    Outcome &outcome = lOutcomes[*it];
    iProgressSum += 100 - qMax(0, outcome.iProgress);
    outcome.bAnswered = true;
    outcome.iCode = iError;
    outcome.lResult = lResult;
    outcome.iElapsedMs = elapsed.elapsed();
    storeResult(&outcome);
    --iOpen;
    emit signal_answered(outcome);
    if (iOpen == 0 && pLoop)
        pLoop->quit();
}

void Batch::onProgress(QString sUuid, int iProgress)
{
    const auto it = hIndexByUuid.constFind(sUuid);
    if (it == hIndexByUuid.constEnd() || lOutcomes.at(*it).bAnswered)
        return;
    Outcome &outcome = lOutcomes[*it];
    // An upload's reply and a follow-up step report their own percentages; the bar never runs backwards.
    const int iBefore = qMax(0, outcome.iProgress);
    outcome.iProgress = qBound(outcome.iProgress, iProgress, 100);
    iProgressSum += outcome.iProgress - iBefore;
    // Small replies arrive in one piece; only a transfer seen part-way through is worth a bar.
    bTransferSeen = bTransferSeen || iProgress < 100;
    if (!bTransferSeen)
        return;
    emit signal_progress(iProgressSum / lOutcomes.size(), iOpen, lOutcomes.size());
}

void Batch::onLog(QString sMessage)
{
    // The transport ends its lines with the request identifier in parentheses.
    static const QRegularExpression reUuid(QStringLiteral("\\((\\{[0-9a-f-]{36}\\})\\)\\s*$"));
    const QRegularExpressionMatch match = reUuid.match(sMessage);
    QString sDeviceId;
    if (match.hasMatch()) {
        const auto it = hIndexByUuid.constFind(match.captured(1));
        if (it != hIndexByUuid.constEnd())
            sDeviceId = lOutcomes.at(*it).request.device.sId;
    }
    emit signal_log(sDeviceId, sMessage);
}
