#ifndef KESTROLCTL_REQUESTPLAN_H
#define KESTROLCTL_REQUESTPLAN_H

#include "devicelist.h"

#include <QString>
#include <QStringList>
#include <QVariantList>

struct CommandEntry;

// One command for one device, checked and ready to hand to the plugin.
struct PlannedRequest
{
    DeviceEntry device;
    const CommandEntry *pEntry = nullptr;
    QVariantList lParam;
    QString sOutputFile; // snapshot: where the image is written
};

// Checks a command's arguments, input files and output paths for one device and builds its request, so
// that bad input is refused before anything is sent. With bSeveral (other devices run the same command)
// outputs are named per device inside a directory. False with a one-line message.
bool planRequest(const CommandEntry &entry, const QStringList &lArgs, const QString &sOutput,
                 const DeviceEntry &device, bool bSeveral, PlannedRequest *pRequest, QString *psError);

#endif // KESTROLCTL_REQUESTPLAN_H
