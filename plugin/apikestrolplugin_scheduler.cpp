#include "apikestrolplugin.h"

#include "apirequestcommand.h"
#include "kestroldevice.h"
#include "logging.h"

#include <QMutexLocker>

// The mutex guards only the hand-over of the queue: everything after it (transport calls, log lines,
// answers) may run host code that submits a new request on this thread, which then simply waits in
// lNewRequests for the next tick.
void ApiKestrolPlugin::onTimer()
{
    QList<QSharedPointer<ApiRequestCommand>> lTaken;
    {
        QMutexLocker locker(&mutexRequests);
        lTaken.swap(lNewRequests);
    }
    prAgeDevices();
    for (const QSharedPointer<ApiRequestCommand> &pRequest : qAsConst(lTaken))
        prSendRequest(pRequest);
}

void ApiKestrolPlugin::prAgeDevices()
{
    for (Device *pDevice : qAsConst(hDevices)) {
        if (auto *pKestrolDevice = qobject_cast<KestrolDevice *>(pDevice))
            pKestrolDevice->prTimer();
    }
}

void ApiKestrolPlugin::prSendRequest(const QSharedPointer<ApiRequestCommand> &pRequest)
{
    const ApiRequestCommand &request = *pRequest;
    if (setInternalRequests.remove(request.sUuid)) {
        // No host waits for a certificate login, and no login request is defined for these devices. The
        // same name submitted by a host is an unknown command and answered like one.
        qCDebug(lcKestrolEngine) << "Dropping internal login request" << request.sUuid << request.sDeviceId;
        return;
    }
    const auto *pDevice = qobject_cast<KestrolDevice *>(getDevice(request.sDeviceId));
    if (!pDevice) {
        prRejectRequest(request,
                        QStringLiteral("Unknown device: %1 (%2)").arg(request.sDeviceId, request.sUuid));
        return;
    }
    const auto itBuilder = prRequestBuilders().constFind(request.sCommand);
    if (itBuilder == prRequestBuilders().constEnd()) {
        prRejectRequest(request,
                        QStringLiteral("Unknown command: %1 (%2)").arg(request.sCommand, request.sUuid));
        return;
    }
    if (request.lParam.size() < itBuilder->iMinParams) {
        prRejectRequest(request,
                        QStringLiteral("Missing parameters: %1 (%2)").arg(request.sCommand, request.sUuid));
        return;
    }
    if (!(this->*(itBuilder->pBuild))(*pRequest, *pDevice)) {
        prAnswer(request.sUuid, 103, {});
        return;
    }
    // The transport reports completions from the event loop only, so entering the request after the call
    // is in time for its completion.
    hSentRequests.insert(request.sUuid, pRequest);
}

void ApiKestrolPlugin::prRejectRequest(const ApiRequestCommand &request, const QString &sLogLine)
{
    onLog(sLogLine);
    prAnswer(request.sUuid, 103, {});
}

// The request leaves the table before the host hears of it, so a host slot never finds it still pending.
void ApiKestrolPlugin::prAnswer(QString sUuid, int iError, const QVariantList &lResult)
{
    hSentRequests.remove(sUuid);
    emit signal_apiResponse(sUuid, iError, lResult);
}
