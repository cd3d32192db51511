#ifndef KESTROLCTL_RESULTS_H
#define KESTROLCTL_RESULTS_H

#include <QJsonArray>
#include <QList>
#include <QPair>
#include <QString>

struct Outcome;

// Writes what an answer carries for a file (the snapshot's JPEG); a failure is kept in sLocalError.
void storeResult(Outcome *pOutcome);

// The process exit status that this outcome alone calls for (see exitcodes.h).
int exitStatusOf(const Outcome &outcome);

// "ok", "refused", "failed" or "no-answer".
QString statusWord(const Outcome &outcome);

// The answer as readable fields: the result values on success, the reason otherwise.
QList<QPair<QString, QString>> describeOutcome(const Outcome &outcome, int iTimeoutMs);

// The result values as JSON; bytes that went to a file appear as {"file": path, "bytes": size}.
QJsonArray resultToJson(const Outcome &outcome);

#endif // KESTROLCTL_RESULTS_H
