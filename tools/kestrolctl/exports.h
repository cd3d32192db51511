#ifndef KESTROLCTL_EXPORTS_H
#define KESTROLCTL_EXPORTS_H

#include "outcome.h"

#include <QList>
#include <QString>
#include <QStringList>

// A table file that may be written: its extension is one of lExtensions ("csv", "json", ...) and its
// directory is writable. False with a one-line message.
bool checkTableFile(const QString &sPath, const QStringList &lExtensions, const char *pcOption,
                    QString *psError);

// --report: one entry per device. FILE.csv has the columns device,command,status,code,reason,seconds,retries,
// summary,files (';'-separated); FILE.json is an array of the --json objects. False with a message.
bool writeReport(const QString &sPath, const QList<Outcome> &lOutcomes, QString *psError);

// counter -o: one row per value of every successful device, "device,counter,start,end,value", where start
// and end bound the value's interval; FILE.jsonl holds one JSON object per row instead. False with a message.
bool writeCounterTable(const QString &sPath, const QList<Outcome> &lOutcomes, QString *psError);

#endif // KESTROLCTL_EXPORTS_H
