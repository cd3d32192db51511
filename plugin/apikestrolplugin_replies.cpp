#include "apikestrolplugin.h"

#include "apirequestcommand.h"
#include "settingsexport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>

namespace {

// The reply body up to its first zero byte, as UTF-8.
QString bodyText(const QByteArray &baResult)
{
    const int iEnd = baResult.indexOf('\0');
    return QString::fromUtf8(iEnd < 0 ? baResult : baResult.left(iEnd));
}

QJsonDocument bodyTextJson(const QString &sBodyText)
{
    return QJsonDocument::fromJson(sBodyText.toUtf8());
}

bool isTimeMember(const QString &sKey)
{
    const QString sLower = sKey.toLower();
    return sLower == QLatin1String("datetime") || sLower == QLatin1String("timestamp");
}

} // namespace

const QHash<QString, ApiKestrolPlugin::ReplyInterpreter> &ApiKestrolPlugin::prReplyInterpreters()
{
    static const QHash<QString, ReplyInterpreter> hInterpreters = {
        {QStringLiteral("API_CMD_GET_CONFIG"), &ApiKestrolPlugin::prReadDeviceInfo},
        {QStringLiteral("API_CMD_SETTINGS_SAVE"), &ApiKestrolPlugin::prReadSettingsExport},
        {QStringLiteral("API_CMD_INTERNAL_SETTINGS_DOWNLOAD"), &ApiKestrolPlugin::prReadSettingsDownload},
        {QStringLiteral("API_CMD_FIRMWARE_UPDATE"), &ApiKestrolPlugin::prReadFirmwareUpload},
        {QStringLiteral("API_CMD_INTERNAL_FIRMWARE_PROCESS"), &ApiKestrolPlugin::prReadFirmwareProgress},
        {QStringLiteral("API_CMD_AICOUNTER_GET"), &ApiKestrolPlugin::prReadCounterValues},
        {QStringLiteral("API_CMD_AICOUNTER_LIST"), &ApiKestrolPlugin::prReadCounterList},
        {QStringLiteral("API_CMD_SNAPSHOT"), &ApiKestrolPlugin::prReadSnapshot},
    };
    return hInterpreters;
}

// Commands without an interpreter are answered with the completion code alone.
void ApiKestrolPlugin::onRequestFinished(QString sUuid, QByteArray baResult, int iError, QString sText)
{
    Q_UNUSED(sText)
    const QSharedPointer<ApiRequestCommand> pRequest = hSentRequests.value(sUuid);
    if (!pRequest)
        return;

    QVariantList lResult;
    const ReplyInterpreter pInterpret = prReplyInterpreters().value(pRequest->sCommand, nullptr);
    if (pInterpret && (this->*pInterpret)(*pRequest, baResult, iError, lResult) == ReplyOutcome::NextStep) {
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
    const QJsonObject info = QJsonDocument::fromJson(baResult).object();
    lResult.append(QVariantMap{{QStringLiteral("API_FW"), info.value(QLatin1String("swver")).toString()},
                               {QStringLiteral("API_MAC"), info.value(QLatin1String("mac")).toString()}});
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
    const QJsonValue url = QJsonDocument::fromJson(baResult).object().value(QLatin1String("url"));
    onLog(QStringLiteral("Temp filename: %1").arg(url.toString()));
    if (!url.isString() || url.toString().isEmpty()) {
        iError = 103;
        return ReplyOutcome::Report;
    }
    request.setCommand(QStringLiteral("API_CMD_INTERNAL_SETTINGS_DOWNLOAD"));
    request.replaceParams({url.toString(), SettingsExport::filePath(request.lParam.value(0).toString())});
    return ReplyOutcome::NextStep;
}

ApiKestrolPlugin::ReplyOutcome ApiKestrolPlugin::prReadSettingsDownload(ApiRequestCommand &request,
                                                                        const QByteArray &baResult,
                                                                        int &iError, QVariantList &lResult)
{
    onLog(bodyText(baResult));
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
    onLog(bodyText(baResult));
    request.setCommand(QStringLiteral("API_CMD_INTERNAL_FIRMWARE_PROCESS"));
    return ReplyOutcome::NextStep;
}

ApiKestrolPlugin::ReplyOutcome ApiKestrolPlugin::prReadFirmwareProgress(ApiRequestCommand &,
                                                                        const QByteArray &baResult, int &,
                                                                        QVariantList &)
{
    onLog(bodyText(baResult));
    return ReplyOutcome::Report;
}

// Values of the requested counter from the first element of the reply's array, in the device's order.
ApiKestrolPlugin::ReplyOutcome ApiKestrolPlugin::prReadCounterValues(ApiRequestCommand &request,
                                                                     const QByteArray &baResult, int &,
                                                                     QVariantList &lResult)
{
    const QString sBodyText = bodyText(baResult);
    onLog(sBodyText);
    const QJsonDocument document = bodyTextJson(sBodyText);
    if (!document.isArray())
        return ReplyOutcome::Report;

    QString sSummary;
    const QJsonArray lRows = document.array();
    const QJsonValue values =
        lRows.isEmpty() ? QJsonValue() : lRows.first().toObject().value(request.lParam.value(0).toString());
    const QJsonArray lValues = values.toArray();
    for (const QJsonValue &value : lValues) {
        const QString sValue = QString::number(value.toInt(0));
        lResult.append(sValue);
        sSummary += sValue + QLatin1String(", ");
    }
    onLog(QStringLiteral("Counter: %1").arg(sSummary));
    return ReplyOutcome::Report;
}

// Counter names are the members of the reply's first element, less its time member.
ApiKestrolPlugin::ReplyOutcome ApiKestrolPlugin::prReadCounterList(ApiRequestCommand &,
                                                                   const QByteArray &baResult, int &,
                                                                   QVariantList &lResult)
{
    const QString sBodyText = bodyText(baResult);
    onLog(sBodyText);
    const QJsonArray lRows = bodyTextJson(sBodyText).array();

    QStringList lNames;
    if (!lRows.isEmpty()) {
        const QStringList lKeys = lRows.first().toObject().keys();
        for (const QString &sKey : lKeys) {
            if (!isTimeMember(sKey))
                lNames.append(sKey);
        }
    }
    for (const QString &sName : qAsConst(lNames))
        lResult.append(sName);
    onLog(QStringLiteral("Counter: %1").arg(lNames.join(QLatin1String(", "))));
    return ReplyOutcome::Report;
}

ApiKestrolPlugin::ReplyOutcome ApiKestrolPlugin::prReadSnapshot(ApiRequestCommand &,
                                                                const QByteArray &baResult, int &,
                                                                QVariantList &lResult)
{
    onLog(QStringLiteral("Got snapshot."));
    lResult.append(baResult);
    return ReplyOutcome::Report;
}
