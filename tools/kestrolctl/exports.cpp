#include "exports.h"

#include "requestplan.h"
#include "results.h"
#include "wholefile.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

namespace {

QString csvField(QString sText)
{
    if (!sText.contains(QRegularExpression(QStringLiteral("[\",\\r\\n]"))))
        return sText;
    return '"' + sText.replace('"', QStringLiteral("\"\"")) + '"';
}

QString csvLine(const QStringList &lFields)
{
    QStringList lQuoted;
    for (const QString &sField : lFields)
        lQuoted.append(csvField(sField));
    return lQuoted.join(',') + '\n';
}

QString jsonLine(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + '\n';
}

bool isCsv(const QString &sPath)
{
    return QFileInfo(sPath).suffix().toLower() == QLatin1String("csv");
}

} // namespace

bool checkTableFile(const QString &sPath, const QStringList &lExtensions, const char *pcOption,
                    QString *psError)
{
    const QFileInfo info(sPath);
    if (!lExtensions.contains(info.suffix().toLower())) {
        *psError = QStringLiteral("%1 %2: give a file ending in .%3")
                       .arg(pcOption, sPath, lExtensions.join(" or ."));
        return false;
    }
    if (info.isDir() || (info.exists() && !info.isWritable()) ||
        !QFileInfo(info.absolutePath()).isWritable()) {
        *psError = QStringLiteral("cannot write %1").arg(sPath);
        return false;
    }
    return true;
}

bool writeReport(const QString &sPath, const QList<Outcome> &lOutcomes, QString *psError)
{
    if (!isCsv(sPath)) {
        QJsonArray entries;
        for (const Outcome &outcome : lOutcomes)
            entries.append(outcomeToJson(outcome));
        return writeWholeFile(sPath, QJsonDocument(entries).toJson(), psError);
    }
    QString sText =
        csvLine({"device", "command", "status", "code", "reason", "seconds", "retries", "summary", "files"});
    for (const Outcome &outcome : lOutcomes) {
        sText +=
            csvLine({outcome.request.device.sId, outcome.request.pSpec->sApiName, statusWord(outcome.status),
                     outcome.iCode < 0 ? QString() : QString::number(outcome.iCode), outcome.sReason,
                     QString::number(outcome.iElapsedMs / 1000.0, 'f', 3), QString::number(outcome.iRetries),
                     summaryOf(outcome), outcome.lFiles.join(';')});
    }
    return writeWholeFile(sPath, sText.toUtf8(), psError);
}

bool writeCounterTable(const QString &sPath, const QList<Outcome> &lOutcomes, QString *psError)
{
    const bool bCsv = isCsv(sPath);
    QString sText = bCsv ? csvLine({"device", "counter", "start", "end", "value"}) : QString();
    for (const Outcome &outcome : lOutcomes) {
        if (outcome.status != Status::Ok)
            continue;
        // The plugin's parameters: NAME, RESOLUTION, START, END; value i covers RESOLUTION seconds from
        // START + i * RESOLUTION.
        const QVariantList &lParam = outcome.request.lParam;
        const int iResolution = lParam.value(1).toInt();
        const QDateTime start = QDateTime::fromString(lParam.value(2).toString(), sCounterTimeFormat);
        for (const auto &series : outcome.lCounters) {
            for (int i = 0; i < series.second.size(); ++i) {
                const QDateTime from = start.addSecs(qint64(i) * iResolution);
                const QString sFrom = from.toString(sCounterTimeFormat);
                const QString sTo = from.addSecs(iResolution).toString(sCounterTimeFormat);
                const QString &sValue = series.second.at(i);
                if (bCsv) {
                    sText += csvLine({outcome.request.device.sId, series.first, sFrom, sTo, sValue});
                } else {
                    sText += jsonLine({{"device", outcome.request.device.sId},
                                       {"counter", series.first},
                                       {"start", sFrom},
                                       {"end", sTo},
                                       {"value", sValue.toLongLong()}});
                }
            }
        }
    }
    return writeWholeFile(sPath, sText.toUtf8(), psError);
}
