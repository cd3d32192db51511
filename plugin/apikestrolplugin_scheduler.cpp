#include "apikestrolplugin.h"

#include "apirequestcommand.h"
#include "kestroldevice.h"
#include "logging.h"
#include "logtext.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QTimer>

namespace {

// How long one hand-over may hold the host's event loop. Handing one request to the transport and the
// access manager costs 50 to 150 us, so this is 60 to 200 requests; the rest follows from the event loop
// right after, with the host's own events (and replies) in between. A pause costs one pass of the event
// loop, so the budget hardly slows a burst down, and it leaves the host a bound well below 50 ms.
constexpr qint64 iHandOverBudgetNs = 10 * 1000 * 1000;

} // namespace

// The mutex guards only the hand-over of the queue: everything after it (transport calls, log lines,
// answers) may run host code that submits a new request on this thread, which then simply waits in
// lNewRequests for the next tick.
void ApiKestrolPlugin::onTimer()
{
    {
        QMutexLocker locker(&mutexRequests);
        if (lHandOver.isEmpty())
            lHandOver.swap(lNewRequests);
        else
            lHandOver.append(std::exchange(lNewRequests, {}));
    }
    prAgeDevices();
    prHandOver();
}

void ApiKestrolPlugin::prAgeDevices()
{
    for (auto it = setCountingDevices.begin(); it != setCountingDevices.end();) {
        (*it)->prTimer();
        it = (*it)->isApiCertificateValid() ? std::next(it) : setCountingDevices.erase(it);
    }
}

// Each request is taken off the front before it is sent, so a tick or a hand-over that host code starts
// from inside a send (a nested event loop) carries on with the next one: none is sent twice or out of
// turn.
void ApiKestrolPlugin::prHandOver()
{
    QElapsedTimer timer;
    timer.start();
    while (!lHandOver.isEmpty()) {
        if (timer.nsecsElapsed() > iHandOverBudgetNs) {
            qCDebug(lcKestrolEngine) << lHandOver.size() << "requests left for the next hand-over";
            timerHandOver.start();
            return;
        }
        prSendRequest(lHandOver.takeFirst());
    }
}

void ApiKestrolPlugin::prSendRequest(const QSharedPointer<ApiRequestCommand> &pRequest)
{
    ApiRequestCommand &request = *pRequest;
    const Command *pCommand = prCommand(request);
    if (!pCommand && request.bInternal) {
        // No host waits for a certificate login, and no login request is defined for these devices. The
        // same name submitted by a host is an unknown command and answered like one.
        qCDebug(lcKestrolEngine) << "Dropping internal request" << request.sCommand << request.sUuid;
        return;
    }
    const auto *pDevice = qobject_cast<KestrolDevice *>(getDevice(request.sDeviceId));
    if (!pDevice) {
        prReject(request, pCommand,
                 QStringLiteral("Unknown device: %1 (%2)")
                     .arg(LogText::escaped(request.sDeviceId), request.sUuid));
        return;
    }
    if (!pCommand) {
        prReject(request, pCommand,
                 QStringLiteral("Unknown command: %1 (%2)")
                     .arg(LogText::escaped(request.sCommand), request.sUuid));
        return;
    }
    if (request.lParam.size() < pCommand->iMinParams) {
        prReject(request, pCommand,
                 QStringLiteral("Missing parameters: %1 (%2)").arg(request.sCommand, request.sUuid));
        return;
    }
    // Nothing but an HTTP request to a host may follow from a device's URL: not a file read, not another
    // protocol.
    if (!pDevice->hasSupportedUrl()) {
        prReject(request, pCommand,
                 QStringLiteral("Unsupported device URL: %1 (%2)")
                     .arg(LogText::url(pDevice->getUrl()), request.sUuid));
        return;
    }
    if (!(this->*(pCommand->pBuild))(request, *pDevice, pCommand->sPath)) {
        prAnswer(request.sUuid, 103, pCommand->lFailedResult);
        return;
    }
    // The transport reports completions from the event loop only, so entering the request after the call
    // is in time for its completion.
    hSentRequests.insert(request.sUuid, pRequest);
}

void ApiKestrolPlugin::prReject(const ApiRequestCommand &request, const Command *pCommand,
                                const QString &sLogLine)
{
    onLog(sLogLine);
    prAnswer(request.sUuid, 103, pCommand ? pCommand->lFailedResult : QVariantList());
}

// The request leaves the table before the host hears of it, so a host slot never finds it still pending.
void ApiKestrolPlugin::prAnswer(QString sUuid, int iError, const QVariantList &lResult)
{
    hSentRequests.remove(sUuid);
    emit signal_apiResponse(sUuid, iError, lResult);
}
