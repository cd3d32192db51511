#ifndef KESTROLCTL_REQUESTPLAN_H
#define KESTROLCTL_REQUESTPLAN_H

#include "devicelist.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

struct CommandSpec;

// One command for one device, checked and ready to hand to the plugin.
struct PlannedRequest
{
    DeviceEntry device;
    const CommandSpec *pSpec = nullptr;
    QVariantList lParam;
    QString
        sOutputFile; // the file the answer goes to (snapshot: written by kestrolctl; backup: by the plugin)
};

// What a command's planning sees of the command line, for one device.
struct PlanInput
{
    QStringList lArgs;
    QString sOutput;   // -o
    bool bSeveral;     // other devices run the same command
    QString sStamp;    // the run's time stamp for file names
    bool bAllCounters; // counter --all: NAME is left empty
};

// Counter periods and the bounds of each value: local time, to the second.
extern const QString sCounterTimeFormat;

// The run's time stamp in default file names, to the millisecond.
QString fileTimeStamp();

// The device's part of default file names: its id with characters other than letters, digits, '.', '_'
// and '-' as '_'.
QString fileNameStem(const DeviceEntry &device);

// A local file to upload: it exists, is readable and not empty. False with a one-line message.
bool checkUploadFile(const QString &sPath, QString *psError);

// Where an answer goes: sTarget is a directory (then sDefaultName inside it) or, for a single device, a
// file that may be created or replaced. False with a one-line message.
bool planOutputFile(const QString &sTarget, const QString &sDefaultName, bool bSeveral, const char *pcWhat,
                    QString *psFile, QString *psError);

// Checks a counter request's NAME RESOLUTION START END and builds the plugin's parameters (NAME may be
// empty for --all, where the job fills in each name). False with a one-line message.
bool planCounterParams(const QStringList &lArgs, QVariantList *plParam, QString *psError);

// Refuses a run in which two devices would write the same file; false with a message naming both.
bool checkDistinctOutputs(const QList<PlannedRequest> &lRequests, QString *psError);

#endif // KESTROLCTL_REQUESTPLAN_H
