#include "results.h"

#include <QJsonArray>
#include <QUrl>

namespace {

QJsonValue resultToJson(const Outcome &outcome)
{
    if (outcome.request.pSpec->output == OutputUse::CounterTable) {
        QJsonObject counters;
        for (const auto &series : outcome.lCounters)
            counters.insert(series.first, QJsonArray::fromStringList(series.second));
        return counters;
    }
    QJsonArray result;
    for (const QVariant &value : outcome.lResult) {
        if (value.userType() == QMetaType::QByteArray) {
            QJsonObject file{{"bytes", value.toByteArray().size()}};
            if (!outcome.lFiles.isEmpty())
                file.insert("file", outcome.lFiles.first());
            result.append(file);
        } else {
            result.append(QJsonValue::fromVariant(value));
        }
    }
    return result;
}

} // namespace

Fields describeOutcome(const Outcome &outcome)
{
    if (outcome.status != Status::Ok)
        return {{"reason", outcome.sReason}};
    return outcome.request.pSpec->describe(outcome);
}

QString summaryOf(const Outcome &outcome)
{
    if (outcome.status != Status::Ok)
        return QString();
    QStringList lParts;
    for (const auto &field : describeOutcome(outcome))
        lParts.append(field.first + ": " + field.second);
    return lParts.join(QStringLiteral("; "));
}

QJsonObject outcomeToJson(const Outcome &outcome)
{
    const PlannedRequest &request = outcome.request;
    QJsonObject object{{"device", request.device.sId},
                       {"url", QUrl(request.device.sUrl).toString(QUrl::RemoveUserInfo)},
                       {"command", request.pSpec->sApiName},
                       {"request", outcome.sUuid.isEmpty() ? QJsonValue() : QJsonValue(outcome.sUuid)},
                       {"code", outcome.iCode < 0 ? QJsonValue() : QJsonValue(outcome.iCode)},
                       {"status", statusWord(outcome.status)},
                       {"seconds", outcome.iElapsedMs / 1000.0},
                       {"retries", outcome.iRetries},
                       {"summary", summaryOf(outcome)},
                       {"files", QJsonArray::fromStringList(outcome.lFiles)},
                       {"result", resultToJson(outcome)}};
    if (outcome.status != Status::Ok)
        object.insert("reason", outcome.sReason);
    if (!outcome.sFirmwareBefore.isEmpty() || !outcome.sFirmwareAfter.isEmpty())
        object.insert("firmware",
                      QJsonObject{{"before", outcome.sFirmwareBefore}, {"after", outcome.sFirmwareAfter}});
    return object;
}
