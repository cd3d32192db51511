#ifndef KESTROLCTL_RESULTS_H
#define KESTROLCTL_RESULTS_H

#include "commands.h"

#include <QJsonObject>
#include <QString>

// The outcome as readable fields: the command's own on success, the reason otherwise.
Fields describeOutcome(const Outcome &outcome);

// A successful answer's fields on one line: "firmware: 3.2.1; mac: 00:1A:2B:3C:4D:5E"; empty for a failure.
QString summaryOf(const Outcome &outcome);

// The outcome as --json prints it and --report writes it. Bytes that went to a file appear as
// {"file": path, "bytes": size}; counter values as {"NAME": [values]}.
QJsonObject outcomeToJson(const Outcome &outcome);

#endif // KESTROLCTL_RESULTS_H
