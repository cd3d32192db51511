#include "reporter.h"

#include "commands.h"
#include "console.h"
#include "results.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QUrl>

namespace {

QString secondsText(qint64 iMs)
{
    return QStringLiteral("%1 s").arg(iMs / 1000.0, 0, 'f', 2);
}

QString fieldsBlock(const QList<QPair<QString, QString>> &lFields)
{
    int iWidth = 0;
    for (const auto &field : lFields)
        iWidth = qMax(iWidth, field.first.size() + 1);
    QString sText;
    for (const auto &field : lFields)
        sText += QStringLiteral("%1 %2\n").arg(field.first + ':', -iWidth).arg(field.second);
    return sText;
}

QString codeText(const Outcome &outcome)
{
    return outcome.bAnswered ? QStringLiteral("%1 (%2)").arg(outcome.iCode).arg(statusWord(outcome))
                             : QStringLiteral("none (no-answer)");
}

} // namespace

Reporter::Reporter(Console *pConsole, Style style, bool bVerbose, int iTimeoutMs, QObject *parent)
    : QObject(parent), pConsole(pConsole), style(style), bVerbose(bVerbose), iTimeoutMs(iTimeoutMs)
{
}

void Reporter::watch(Batch *pBatch)
{
    connect(pBatch, &Batch::signal_answered, this, &Reporter::onAnswered);
    watchProgress(pBatch);
}

void Reporter::watchProgress(Batch *pBatch)
{
    connect(pBatch, &Batch::signal_progress, this, &Reporter::onProgress);
    if (bVerbose)
        connect(pBatch, &Batch::signal_log, this, &Reporter::onLog);
}

void Reporter::printOutcome(const Outcome &outcome)
{
    const QList<QPair<QString, QString>> lDescription = describeOutcome(outcome, iTimeoutMs);
    if (style == Style::Json) {
        QJsonObject object{{"device", outcome.request.device.sId},
                           {"url", QUrl(outcome.request.device.sUrl).toString(QUrl::RemoveUserInfo)},
                           {"command", outcome.request.pEntry->sApiName},
                           {"request", outcome.sUuid},
                           {"code", outcome.bAnswered ? QJsonValue(outcome.iCode) : QJsonValue()},
                           {"status", statusWord(outcome)},
                           {"seconds", outcome.iElapsedMs / 1000.0},
                           {"result", resultToJson(outcome)}};
        if (exitStatusOf(outcome) != 0)
            object.insert("error", lDescription.value(0).second);
        pConsole->out(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + '\n');
        return;
    }
    if (style == Style::Fields) {
        QList<QPair<QString, QString>> lFields{{"device", outcome.request.device.sId},
                                               {"command", outcome.request.pEntry->sApiName},
                                               {"request", outcome.sUuid},
                                               {"code", codeText(outcome)},
                                               {"time", secondsText(outcome.iElapsedMs)}};
        pConsole->out(fieldsBlock(lFields + lDescription));
        return;
    }
    QStringList lParts;
    for (const auto &field : lDescription)
        lParts.append(field.first + ": " + field.second);
    pConsole->out(QStringLiteral("%1  %2 %3  %4\n")
                      .arg(outcome.request.device.sId, -iIdWidth)
                      .arg(statusWord(outcome), -9)
                      .arg(secondsText(outcome.iElapsedMs), 7)
                      .arg(lParts.join("; ")));
}

void Reporter::printUnanswered(const QList<Outcome> &lOutcomes)
{
    for (const Outcome &outcome : lOutcomes) {
        if (!outcome.bAnswered)
            printOutcome(outcome);
    }
}

void Reporter::printSummary(const QList<Outcome> &lOutcomes, qint64 iElapsedMs)
{
    pConsole->clearProgress();
    if (style == Style::Json)
        return;
    int iOk = 0;
    QMap<QString, int> mapFailures;
    for (const Outcome &outcome : lOutcomes) {
        if (exitStatusOf(outcome) == 0)
            ++iOk;
        else if (!outcome.bAnswered)
            ++mapFailures["no answer"];
        else if (outcome.iCode != 0)
            ++mapFailures[QStringLiteral("code %1").arg(outcome.iCode)];
        else
            ++mapFailures["not stored"];
    }
    QString sLine = QStringLiteral("%1 device%2 in %3: %4 succeeded")
                        .arg(lOutcomes.size())
                        .arg(lOutcomes.size() == 1 ? "" : "s")
                        .arg(secondsText(iElapsedMs))
                        .arg(iOk);
    if (iOk < lOutcomes.size()) {
        QStringList lKinds;
        for (auto it = mapFailures.constBegin(); it != mapFailures.constEnd(); ++it)
            lKinds.append(QStringLiteral("%1: %2").arg(it.key()).arg(it.value()));
        sLine += QStringLiteral(", %1 failed (%2)").arg(lOutcomes.size() - iOk).arg(lKinds.join(", "));
    }
    pConsole->out(sLine + '\n');
}

void Reporter::onAnswered(Outcome outcome)
{
    printOutcome(outcome);
}

void Reporter::onProgress(int iPercent, int iOpen, int iTotal)
{
    constexpr int iBarWidth = 30;
    const int iFilled = iPercent * iBarWidth / 100;
    pConsole->progress(QStringLiteral("[%1%2] %3%  %4  %5 of %6 open")
                           .arg(QString(iFilled, '#'))
                           .arg(QString(iBarWidth - iFilled, '-'))
                           .arg(iPercent, 3)
                           .arg(sProgressLabel)
                           .arg(iOpen)
                           .arg(iTotal));
}

void Reporter::onLog(QString sDeviceId, QString sMessage)
{
    const QString sTime = QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    const QString sWho = sDeviceId.isEmpty() ? QString() : QStringLiteral("[%1] ").arg(sDeviceId);
    pConsole->err(QStringLiteral("%1 %2%3\n").arg(sTime, sWho, sMessage));
}
