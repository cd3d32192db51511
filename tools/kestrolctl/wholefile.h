#ifndef KESTROLCTL_WHOLEFILE_H
#define KESTROLCTL_WHOLEFILE_H

#include <QByteArray>
#include <QString>

// Writes a file that appears complete or not at all; false with "cannot write FILE: REASON", where REASON is
// the system's ("No space left on device").
bool writeWholeFile(const QString &sPath, const QByteArray &baData, QString *psError);

#endif // KESTROLCTL_WHOLEFILE_H
