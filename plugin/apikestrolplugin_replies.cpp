#include "apikestrolplugin.h"

#include "apirequestcommand.h"
#include "logtext.h"
#include "replyformats.h"
#include "settingsexport.h"

#include <QMutexLocker>

// Text from a device reaches log lines escaped, so that it cannot start a line of its own in the host's log.
void ApiKestrolPlugin::onRequestFinished(QString sUuid, QByteArray baResult, int iError, QString sText)
{
    Q_UNUSED(sText)
    const QSharedPointer<ApiRequestCommand> pRequest = hSentRequests.value(sUuid);
    if (!pRequest)
        return;

    QVariantList lResult;
    const Command *pCommand = prCommand(*pRequest);
    if (pCommand && pCommand->pRead &&
        (this->*(pCommand->pRead))(*pRequest, baResult, iError, lResult) == ReplyOutcome::NextStep) {
        pRequest->bInternal = true;
        QMutexLocker locker(&mutexRequests);
        lNewRequests.append(pRequest);
        return;
    }
    prAnswer(sUuid, iError, lResult);
}

ApiKestrolPlugin::ReplyOutcome ApiKestrolPlugin::prReadDeviceInfo(ApiRequestCommand &,
                                                                  const QByteArray &baResult, int &,
                                                                  QVariantList &lResult)
{
    lResult.append(ReplyFormats::deviceInfo(baResult));
    return ReplyOutcome::Report;
}

// A failed export, or one without a location to fetch, ends the command: a download would only fail too, or
// its code would hide the export's failure.
ApiKestrolPlugin::ReplyOutcome ApiKestrolPlugin::prReadSettingsExport(ApiRequestCommand &request,
                                                                      const QByteArray &baResult, int &iError,
                                                                      QVariantList &)
{
    if (iError != 0)
        return ReplyOutcome::Report;
    const QString sLocation = ReplyFormats::exportLocation(baResult);
    onLog(QStringLiteral("Temp filename: %1").arg(LogText::url(sLocation)));
    if (sLocation.isEmpty()) {
        iError = 103;
        return ReplyOutcome::Report;
    }
    request.setCommand(QStringLiteral("API_CMD_INTERNAL_SETTINGS_DOWNLOAD"));
    request.replaceParams({sLocation, SettingsExport::filePath(request.lParam.value(0).toString())});
    return ReplyOutcome::NextStep;
}

ApiKestrolPlugin::ReplyOutcome ApiKestrolPlugin::prReadSettingsDownload(ApiRequestCommand &request,
                                                                        const QByteArray &baResult,
                                                                        int &iError, QVariantList &lResult)
{
    onLog(LogText::escaped(ReplyFormats::bodyText(baResult)));
    if (iError == 0)
        lResult.append(request.lParam.value(1).toString());
    return ReplyOutcome::Report;
}

ApiKestrolPlugin::ReplyOutcome ApiKestrolPlugin::prReadFirmwareUpload(ApiRequestCommand &request,
                                                                      const QByteArray &baResult, int &iError,
                                                                      QVariantList &)
{
    if (iError != 0)
        return ReplyOutcome::Report;
    onLog(LogText::escaped(ReplyFormats::bodyText(baResult)));
    request.setCommand(QStringLiteral("API_CMD_INTERNAL_FIRMWARE_PROCESS"));
    return ReplyOutcome::NextStep;
}

ApiKestrolPlugin::ReplyOutcome ApiKestrolPlugin::prReadFirmwareProgress(ApiRequestCommand &,
                                                                        const QByteArray &baResult, int &,
                                                                        QVariantList &)
{
    onLog(LogText::escaped(ReplyFormats::bodyText(baResult)));
    return ReplyOutcome::Report;
}

ApiKestrolPlugin::ReplyOutcome ApiKestrolPlugin::prReadCounterValues(ApiRequestCommand &request,
                                                                     const QByteArray &baResult, int &,
                                                                     QVariantList &lResult)
{
    onLog(LogText::escaped(ReplyFormats::bodyText(baResult)));
    const ReplyFormats::CounterValues values =
        ReplyFormats::counterValues(baResult, request.lParam.value(0).toString());
    if (!values.bArray)
        return ReplyOutcome::Report;
    QString sSummary;
    for (const QString &sValue : values.lValues) {
        lResult.append(sValue);
        sSummary += sValue + QLatin1String(", ");
    }
    onLog(QStringLiteral("Counter: %1").arg(sSummary));
    return ReplyOutcome::Report;
}

ApiKestrolPlugin::ReplyOutcome ApiKestrolPlugin::prReadCounterList(ApiRequestCommand &,
                                                                   const QByteArray &baResult, int &,
                                                                   QVariantList &lResult)
{
    onLog(LogText::escaped(ReplyFormats::bodyText(baResult)));
    const QStringList lNames = ReplyFormats::counterNames(baResult);
    for (const QString &sName : lNames)
        lResult.append(sName);
    onLog(QStringLiteral("Counter: %1").arg(LogText::escaped(lNames.join(QLatin1String(", ")))));
    return ReplyOutcome::Report;
}

// A body that is not a JPEG (an error page sent with 200, say) is no snapshot, whatever its status said.
ApiKestrolPlugin::ReplyOutcome ApiKestrolPlugin::prReadSnapshot(ApiRequestCommand &request,
                                                                const QByteArray &baResult, int &iError,
                                                                QVariantList &lResult)
{
    if (iError == 0 && !ReplyFormats::isJpeg(baResult)) {
        onLog(QStringLiteral("Not a JPEG image: %1 (%2)")
                  .arg(LogText::url(request.sRequestUrl), request.sUuid));
        iError = 103;
        lResult.append(QByteArray());
        return ReplyOutcome::Report;
    }
    onLog(QStringLiteral("Got snapshot."));
    lResult.append(baResult);
    return ReplyOutcome::Report;
}
