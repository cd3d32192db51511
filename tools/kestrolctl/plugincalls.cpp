#include "plugincalls.h"

#include "deviceapiinterface.h"
#include "pluginhost.h"

#include <QRegularExpression>
#include <QTimer>

PluginCalls::PluginCalls(PluginHost *pHost, int iTimeoutMs, QObject *parent)
    : QObject(parent), pHost(pHost), iTimeoutMs(iTimeoutMs)
{
    connect(pHost, &PluginHost::signal_apiResponse, this, &PluginCalls::onApiResponse);
    connect(pHost, &PluginHost::signal_progress, this, &PluginCalls::onProgress);
    connect(pHost, &PluginHost::signal_log, this, &PluginCalls::onLog);
}

void PluginCalls::call(const QString &sDeviceId, const QString &sApiName, const QVariantList &lParam,
                       bool bUploads, std::function<void(const CallResult &)> done)
{
    const QString sUuid = pHost->api()->requestApiCommand(sDeviceId, sApiName, lParam);
    Call &call = hCalls[sUuid];
    call.sDeviceId = sDeviceId;
    call.reason = FailureReason(bUploads);
    call.done = std::move(done);
    call.pTimer = new QTimer(this);
    call.pTimer->setSingleShot(true);
    connect(call.pTimer, &QTimer::timeout, this, [this, sUuid] {
        CallResult result;
        result.sUuid = sUuid;
        result.reason.sText = QStringLiteral("no answer within %1 s").arg(iTimeoutMs / 1000.0);
        finish(result);
    });
    call.pTimer->start(iTimeoutMs);
    hDeviceByUuid.insert(sUuid, sDeviceId);
}

void PluginCalls::onApiResponse(QString sUuid, int iError, QVariantList lResult)
{
    const auto it = hCalls.constFind(sUuid);
    if (it == hCalls.constEnd())
        return;
    CallResult result;
    result.sUuid = sUuid;
    result.bAnswered = true;
    result.iCode = iError;
    result.lResult = lResult;
    if (iError != 0)
        result.reason = it->reason.reason(iError);
    finish(result);
}

void PluginCalls::finish(CallResult result)
{
    Call call = hCalls.take(result.sUuid);
    delete call.pTimer;
    call.done(result);
}

void PluginCalls::onProgress(QString sUuid, int iProgress)
{
    const auto it = hCalls.constFind(sUuid);
    if (it != hCalls.constEnd())
        emit signal_progress(it->sDeviceId, iProgress);
}

void PluginCalls::onLog(QString sMessage)
{
    // The transport ends its lines with the request identifier in parentheses.
    static const QRegularExpression reUuid(QStringLiteral("\\s*\\((\\{[0-9a-f-]{36}\\})\\)\\s*$"));
    const QRegularExpressionMatch match = reUuid.match(sMessage);
    if (!match.hasMatch()) {
        emit signal_log(hCalls.size() == 1 ? hCalls.constBegin()->sDeviceId : QString(), sMessage);
        return;
    }
    const QString sUuid = match.captured(1);
    const auto it = hCalls.find(sUuid);
    if (it != hCalls.end())
        it->reason.addLogLine(sMessage.left(match.capturedStart()));
    emit signal_log(hDeviceByUuid.value(sUuid), sMessage);
}
