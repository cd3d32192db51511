#include "reporter.h"

#include "console.h"
#include "results.h"
#include "runner.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QMap>

namespace {

QString secondsText(qint64 iMs)
{
    return QStringLiteral("%1 s").arg(iMs / 1000.0, 0, 'f', 2);
}

QString retriesText(int iRetries)
{
    return iRetries == 0 ? QString()
                         : QStringLiteral(" (%1 %2)").arg(iRetries).arg(iRetries == 1 ? "retry" : "retries");
}

QString fieldsBlock(const Fields &lFields)
{
    int iWidth = 0;
    for (const auto &field : lFields)
        iWidth = qMax(iWidth, field.first.size() + 1);
    QString sText;
    for (const auto &field : lFields)
        sText += QStringLiteral("%1 %2\n").arg(field.first + ':', -iWidth).arg(field.second);
    return sText;
}

} // namespace

Reporter::Reporter(Console *pConsole, const Settings &settings, QObject *parent)
    : QObject(parent), pConsole(pConsole), settings(settings)
{
}

void Reporter::watch(Runner *pRunner)
{
    connect(pRunner, &Runner::signal_finished, this, &Reporter::printOutcome);
    watchProgress(pRunner);
}

void Reporter::watchProgress(Runner *pRunner)
{
    connect(pRunner, &Runner::signal_progress, this, &Reporter::onProgress);
    connect(pRunner, &Runner::signal_note, this, &Reporter::note);
    if (settings.bVerbose)
        connect(pRunner, &Runner::signal_log, this, &Reporter::onLog);
}

void Reporter::printOutcome(const Outcome &outcome)
{
    const bool bOk = outcome.status == Status::Ok;
    const QString &sId = outcome.request.device.sId;
    auto failureOrResult = [&](const QString &sText) {
        if (!bOk)
            pConsole->err(sText);
        else if (!settings.bQuiet)
            pConsole->out(sText);
    };
    switch (settings.style) {
    case Style::Json:
        pConsole->out(
            QString::fromUtf8(QJsonDocument(outcomeToJson(outcome)).toJson(QJsonDocument::Compact)) + '\n');
        if (!bOk)
            pConsole->err(QStringLiteral("kestrolctl: %1: %2\n").arg(sId, outcome.sReason));
        return;
    case Style::Fields: {
        Fields lFields{{"device", sId}, {"command", outcome.request.pSpec->sApiName}};
        if (!outcome.sUuid.isEmpty())
            lFields.append({"request", outcome.sUuid});
        lFields.append({"status", statusWord(outcome.status)});
        if (outcome.iCode > 0)
            lFields.append({"code", QString::number(outcome.iCode)});
        lFields.append({"time", secondsText(outcome.iElapsedMs)});
        if (outcome.iRetries > 0)
            lFields.append({"retries", QString::number(outcome.iRetries)});
        failureOrResult(fieldsBlock(lFields + describeOutcome(outcome)));
        return;
    }
    case Style::Table:
        failureOrResult(QStringLiteral("%1  %2 %3  %4%5\n")
                            .arg(sId, -iIdWidth)
                            .arg(statusWord(outcome.status), -9)
                            .arg(secondsText(outcome.iElapsedMs), 7)
                            .arg(bOk ? summaryOf(outcome) : outcome.sReason, retriesText(outcome.iRetries)));
        return;
    }
}

void Reporter::printSummary(const QList<Outcome> &lOutcomes, qint64 iElapsedMs)
{
    pConsole->clearProgress();
    if (settings.bQuiet)
        return;
    QMap<QString, int> mapByStatus;
    for (const Outcome &outcome : lOutcomes)
        ++mapByStatus[statusWord(outcome.status)];
    const int iOk = mapByStatus.take(statusWord(Status::Ok));
    QString sLine = QStringLiteral("%1 device%2 in %3: %4 succeeded")
                        .arg(lOutcomes.size())
                        .arg(lOutcomes.size() == 1 ? "" : "s")
                        .arg(secondsText(iElapsedMs))
                        .arg(iOk);
    if (!mapByStatus.isEmpty()) {
        QStringList lKinds;
        for (auto it = mapByStatus.constBegin(); it != mapByStatus.constEnd(); ++it)
            lKinds.append(QStringLiteral("%1 %2").arg(it.value()).arg(it.key()));
        sLine += QStringLiteral(", %1").arg(lKinds.join(", "));
    }
    pConsole->err(sLine + '\n');
}

void Reporter::note(const QString &sText)
{
    if (!settings.bQuiet)
        pConsole->err(QStringLiteral("kestrolctl: %1\n").arg(sText));
}

void Reporter::onProgress(int iPercent, int iRunning, int iDone, int iTotal)
{
    constexpr int iBarWidth = 30;
    const int iFilled = iPercent * iBarWidth / 100;
    pConsole->progress(QStringLiteral("[%1%2] %3%  %4  %5 running, %6 of %7 done")
                           .arg(QString(iFilled, '#'))
                           .arg(QString(iBarWidth - iFilled, '-'))
                           .arg(iPercent, 3)
                           .arg(sProgressLabel)
                           .arg(iRunning)
                           .arg(iDone)
                           .arg(iTotal));
}

void Reporter::onLog(QString sDeviceId, QString sMessage)
{
    // In a fleet run a line that names no request cannot be put to a device; it is left out (see --help).
    if (sDeviceId.isEmpty() && settings.bSeveral)
        return;
    const QString sTime = QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    const QString sWho = sDeviceId.isEmpty() ? QString() : QStringLiteral("[%1] ").arg(sDeviceId);
    pConsole->err(QStringLiteral("%1 %2%3\n").arg(sTime, sWho, sMessage));
}
