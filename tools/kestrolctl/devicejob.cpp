#include "devicejob.h"

#include "commands.h"
#include "deviceapiinterface.h"
#include "plugincalls.h"
#include "pluginhost.h"
#include "trust.h"

#include <QTimer>
#include <QUrl>
#include <QVariantMap>

namespace {

constexpr int iCertificateTimeoutMs = 30 * 1000;
constexpr int iPollIntervalMs = 1000;
// Retries wait 1 s, 2 s, 4 s, ... at most a minute: long enough for a device to restart its web server,
// short enough that an operator is not left waiting on a dead one.
constexpr int iFirstBackoffMs = 1000;
constexpr int iMaxBackoffMs = 60 * 1000;

const QString sGetConfig = QStringLiteral("API_CMD_GET_CONFIG");

QString firmwareOf(const CallResult &call)
{
    return call.lResult.value(0).toMap().value(QStringLiteral("API_FW")).toString();
}

Status statusOf(const CallResult &call)
{
    if (!call.bAnswered)
        return Status::NoAnswer;
    if (call.iCode == 101)
        return Status::Refused;
    return call.reason.bCertificate ? Status::Untrusted : Status::Failed;
}

QString secondsText(int iMs)
{
    return QStringLiteral("%1 s").arg(iMs / 1000.0);
}

} // namespace

DeviceJob::DeviceJob(const PlannedRequest &request, PluginHost *pHost, PluginCalls *pCalls,
                     const JobSettings &settings, QObject *parent)
    : QObject(parent), pHost(pHost), pCalls(pCalls), settings(settings)
{
    result.request = request;
}

void DeviceJob::start()
{
    elapsed.start();
    const DeviceEntry &device = result.request.device;
    if (settings.pKnownDevices && device.sPin.isEmpty() &&
        QUrl(device.sUrl).scheme().toLower() == QLatin1String("https"))
        prCheckCertificate();
    else
        prBegin(device.sPin);
}

// Trust on first use: the certificate is read and compared before the plugin, and so the password, ever
// meets the device; the plugin then holds every request to the same certificate through the pin.
void DeviceJob::prCheckCertificate()
{
    const QString sUrl = result.request.device.sUrl;
    readCertificate(sUrl, iCertificateTimeoutMs, this, [this, sUrl](QString sFingerprint, QString sError) {
        if (sFingerprint.isEmpty()) {
            prFinish(Status::Failed, reasonFromQtError(sError).sText);
            return;
        }
        KnownDevices *pKnown = settings.pKnownDevices;
        const QString sEndpoint = endpointOf(sUrl);
        int iLine = 0;
        const QString sKnown = pKnown->fingerprint(sEndpoint, &iLine);
        if (sKnown.isEmpty()) {
            if (!pKnown->record(sEndpoint, sFingerprint, &sError)) {
                prFinish(Status::Failed, sError);
                return;
            }
            emit signal_note(
                QStringLiteral("recorded the certificate of %1 in %2").arg(sEndpoint, pKnown->path()));
        } else if (sKnown != sFingerprint) {
            prFinish(Status::Untrusted,
                     QStringLiteral("certificate of %1 changed: %2:%3 has %4, the device presents %5; if the "
                                    "certificate was replaced on purpose, delete that line")
                         .arg(sEndpoint, pKnown->path())
                         .arg(iLine)
                         .arg(sKnown, sFingerprint));
            return;
        }
        prBegin(sFingerprint);
    });
}

void DeviceJob::prBegin(const QString &sPin)
{
    const DeviceEntry &device = result.request.device;
    // The pin follows the device kind, which kestrolctl leaves to the plugin.
    const QVariantList lParam = sPin.isEmpty() ? QVariantList() : QVariantList{QString(), sPin};
    DeviceApiInterface *pApi = pHost->api();
    if (pApi->createDevice(device.sId, device.sUrl, device.sUser, device.sPassword, lParam) != 0)
        pApi->changeDevice(device.sId, device.sUrl, device.sUser, device.sPassword, lParam);
    if (!settings.bVerify) {
        prRunCommand();
        return;
    }
    prCall(sGetConfig, {}, [this](const CallResult &call) {
        result.sFirmwareBefore = firmwareOf(call);
        prRunCommand();
    });
}

void DeviceJob::prRunCommand()
{
    const CommandSpec &spec = *result.request.pSpec;
    if (settings.bAllCounters) {
        prCall(QStringLiteral("API_CMD_AICOUNTER_LIST"), {},
               [this](const CallResult &call) { prNextCounter(stringsOf(call.lResult)); });
        return;
    }
    prCall(spec.sApiName, result.request.lParam, [this, &spec](const CallResult &call) {
        result.lResult = call.lResult;
        if (spec.output == OutputUse::CounterTable)
            result.lCounters.append({result.request.lParam.value(0).toString(), stringsOf(call.lResult)});
        const QString sKeepError = spec.keep ? spec.keep(result) : QString();
        if (!sKeepError.isEmpty()) {
            prFinish(Status::Failed, sKeepError);
        } else if (settings.bVerify) {
            pRebootDeadline = new QTimer(this);
            pRebootDeadline->setSingleShot(true);
            connect(pRebootDeadline, &QTimer::timeout, this, &DeviceJob::prOnRebootTimeout);
            pRebootDeadline->start(settings.iRebootTimeoutMs);
            prPoll();
        } else {
            prFinish(Status::Ok);
        }
    });
}

void DeviceJob::prNextCounter(QStringList lNames)
{
    if (lNames.isEmpty()) {
        prFinish(Status::Ok);
        return;
    }
    QVariantList lParam = result.request.lParam;
    lParam[0] = lNames.first();
    prCall(result.request.pSpec->sApiName, lParam, [this, lNames](const CallResult &call) {
        result.lCounters.append({lNames.first(), stringsOf(call.lResult)});
        prNextCounter(lNames.mid(1));
    });
}

void DeviceJob::prPoll()
{
    if (!bFinished)
        pCalls->call(result.request.device.sId, sGetConfig, {}, false,
                     [this](const CallResult &call) { prOnPolled(call); });
}

// A device may still run the old firmware for a while before it goes down; only one that went away and came
// back with the old version has certainly not taken the update.
void DeviceJob::prOnPolled(const CallResult &call)
{
    if (bFinished)
        return;
    if (call.bAnswered && call.iCode == 0) {
        const QString sVersion = firmwareOf(call);
        if (!sVersion.isEmpty() && sVersion != result.sFirmwareBefore) {
            result.sFirmwareAfter = sVersion;
            prFinish(Status::Ok);
            return;
        }
        if (bSeenAway) {
            prFinish(
                Status::Failed,
                QStringLiteral("the device came back with the old firmware %1").arg(result.sFirmwareBefore));
            return;
        }
    } else {
        bSeenAway = true;
        sLastPollReason = call.reason.sText;
    }
    QTimer::singleShot(iPollIntervalMs, this, &DeviceJob::prPoll);
}

void DeviceJob::prOnRebootTimeout()
{
    const QString sWait = secondsText(settings.iRebootTimeoutMs);
    if (bSeenAway)
        prFinish(Status::Failed,
                 QStringLiteral("the device did not come back within %1 after the update (last: %2)")
                     .arg(sWait, sLastPollReason));
    else
        prFinish(Status::Failed,
                 QStringLiteral("firmware still %1 %2 after the update").arg(result.sFirmwareBefore, sWait));
}

void DeviceJob::prCall(const QString &sApiName, const QVariantList &lParam,
                       std::function<void(const CallResult &)> onSuccess, int iAttempt)
{
    const QString sDeviceId = result.request.device.sId;
    pCalls->call(sDeviceId, sApiName, lParam, result.request.pSpec->bUploads, [=](const CallResult &call) {
        if (bFinished)
            return;
        result.sUuid = call.sUuid;
        result.iCode = call.iCode;
        if (call.bAnswered && call.iCode == 0) {
            onSuccess(call);
            return;
        }
        if (!call.reason.bRetryable || iAttempt >= settings.iRetries) {
            prFinish(statusOf(call), call.reason.sText);
            return;
        }
        const int iDelayMs = qMin(iMaxBackoffMs, iFirstBackoffMs << qMin(iAttempt, 6));
        ++result.iRetries;
        emit signal_log(sDeviceId, QStringLiteral("kestrolctl: retry %1 of %2 in %3: %4")
                                       .arg(iAttempt + 1)
                                       .arg(settings.iRetries)
                                       .arg(secondsText(iDelayMs), call.reason.sText));
        QTimer::singleShot(iDelayMs, this, [=] { prCall(sApiName, lParam, onSuccess, iAttempt + 1); });
    });
}

void DeviceJob::prFinish(Status status, const QString &sReason)
{
    bFinished = true;
    if (pRebootDeadline)
        pRebootDeadline->stop();
    result.status = status;
    result.sReason = sReason;
    result.iElapsedMs = elapsed.elapsed();
    if (status == Status::Ok && !result.request.sOutputFile.isEmpty())
        result.lFiles = QStringList{result.request.sOutputFile};
    emit signal_finished();
}
