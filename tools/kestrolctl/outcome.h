#ifndef KESTROLCTL_OUTCOME_H
#define KESTROLCTL_OUTCOME_H

#include "requestplan.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariantList>

enum class Status
{
    Ok,
    Failed,    // 103, a result that could not be kept, a failed verification
    Refused,   // 101
    NoAnswer,  // nothing within --timeout
    Untrusted, // certificate differs from the pin or from the known one
    Skipped    // not started because a canary failed
};

// What became of one device's command.
struct Outcome
{
    PlannedRequest request;
    Status status = Status::Failed;
    QString sUuid;  // of the latest request sent for it
    int iCode = -1; // the plugin's completion code; -1 without an answer
    QVariantList lResult;
    QString sReason; // why it failed; empty on success
    int iRetries = 0;
    qint64 iElapsedMs = 0;
    QString sFirmwareBefore; // --verify
    QString sFirmwareAfter;
    QList<QPair<QString, QStringList>> lCounters; // counter: the values by counter name
    QStringList lFiles;                           // files written for this device
};

// The string form of each value of a result list.
QStringList stringsOf(const QVariantList &lValues);

// The process exit status that this outcome alone calls for (see exitcodes.h).
int exitStatusOf(const Outcome &outcome);

// "ok", "failed", "refused", "no-answer", "untrusted" or "skipped".
QString statusWord(Status status);

#endif // KESTROLCTL_OUTCOME_H
