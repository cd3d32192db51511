#include "results.h"

#include "batch.h"
#include "commands.h"
#include "exitcodes.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QLocale>
#include <QSaveFile>
#include <QVariantMap>

namespace {

bool isCommand(const Outcome &outcome, const char *pName)
{
    return outcome.request.pEntry->sApiName == QLatin1String(pName);
}

QString sizeText(qint64 iBytes)
{
    return QLocale::c().formattedDataSize(iBytes, 1, QLocale::DataSizeIecFormat);
}

QStringList stringsOf(const QVariantList &lValues)
{
    QStringList lStrings;
    for (const QVariant &value : lValues)
        lStrings.append(value.toString());
    return lStrings;
}

QList<QPair<QString, QString>> describeSuccess(const Outcome &outcome)
{
    const QVariantList &lResult = outcome.lResult;
    const QString sParam = outcome.request.lParam.value(0).toString();
    if (isCommand(outcome, "API_CMD_LOGIN_CHECK"))
        return {{"login", "credentials accepted"}};
    if (isCommand(outcome, "API_CMD_GET_CONFIG")) {
        const QVariantMap map = lResult.value(0).toMap();
        return {{"firmware", map.value("API_FW").toString()}, {"mac", map.value("API_MAC").toString()}};
    }
    if (isCommand(outcome, "API_CMD_AICOUNTER_LIST"))
        return {{"counters", lResult.isEmpty() ? "(none today)" : stringsOf(lResult).join(", ")}};
    if (isCommand(outcome, "API_CMD_AICOUNTER_GET"))
        return {{"counter", sParam},
                {"values", lResult.isEmpty() ? "(none)" : stringsOf(lResult).join(", ")}};
    if (isCommand(outcome, "API_CMD_SNAPSHOT"))
        return {{"file", outcome.request.sOutputFile},
                {"size", sizeText(lResult.value(0).toByteArray().size())}};
    if (isCommand(outcome, "API_CMD_SETTINGS_SAVE")) {
        const QString sFile = lResult.value(0).toString();
        return {{"file", sFile}, {"size", sizeText(QFileInfo(sFile).size())}};
    }
    if (isCommand(outcome, "API_CMD_SETTINGS_LOAD"))
        return {{"loaded", sParam}};
    if (isCommand(outcome, "API_CMD_FIRMWARE_UPDATE"))
        return {{"uploaded", QStringLiteral("%1 (%2)").arg(sParam, sizeText(QFileInfo(sParam).size()))}};
    if (isCommand(outcome, "API_CMD_RESTART"))
        return {{"restart", "requested"}};
    if (isCommand(outcome, "API_CMD_RESET_SOFT"))
        return {{"factory reset", "requested"}};
    return {{"result", stringsOf(lResult).join(", ")}};
}

} // namespace

void storeResult(Outcome *pOutcome)
{
    if (pOutcome->iCode != 0 || pOutcome->request.sOutputFile.isEmpty())
        return;
    // Like the plugin's downloads, the file appears complete or not at all.
    const QByteArray baImage = pOutcome->lResult.value(0).toByteArray();
    QSaveFile file(pOutcome->request.sOutputFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(baImage) != baImage.size() || !file.commit())
        pOutcome->sLocalError =
            QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
}

int exitStatusOf(const Outcome &outcome)
{
    if (!outcome.bAnswered)
        return exitcode::NoAnswer;
    if (outcome.iCode == 101)
        return exitcode::Credentials;
    if (outcome.iCode != 0 || !outcome.sLocalError.isEmpty())
        return exitcode::Failed;
    return exitcode::Ok;
}

QString statusWord(const Outcome &outcome)
{
    switch (exitStatusOf(outcome)) {
    case exitcode::Ok:
        return QStringLiteral("ok");
    case exitcode::Credentials:
        return QStringLiteral("refused");
    case exitcode::NoAnswer:
        return QStringLiteral("no-answer");
    default:
        return QStringLiteral("failed");
    }
}

QList<QPair<QString, QString>> describeOutcome(const Outcome &outcome, int iTimeoutMs)
{
    if (!outcome.bAnswered)
        return {{"error", QStringLiteral("no answer within %1 s").arg(iTimeoutMs / 1000.0)}};
    if (outcome.iCode == 101)
        return {{"error", "credentials refused or missing (code 101)"}};
    if (outcome.iCode != 0)
        return {
            {"error", QStringLiteral("request failed (code %1); --verbose shows why").arg(outcome.iCode)}};
    if (!outcome.sLocalError.isEmpty())
        return {{"error", outcome.sLocalError}};
    return describeSuccess(outcome);
}

QJsonArray resultToJson(const Outcome &outcome)
{
    QJsonArray result;
    for (const QVariant &value : outcome.lResult) {
        if (value.userType() == QMetaType::QByteArray) {
            QJsonObject file{{"bytes", value.toByteArray().size()}};
            if (!outcome.request.sOutputFile.isEmpty() && outcome.sLocalError.isEmpty())
                file.insert("file", outcome.request.sOutputFile);
            result.append(file);
        } else {
            result.append(QJsonValue::fromVariant(value));
        }
    }
    return result;
}
