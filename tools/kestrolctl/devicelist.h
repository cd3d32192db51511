#ifndef KESTROLCTL_DEVICELIST_H
#define KESTROLCTL_DEVICELIST_H

#include <QList>
#include <QString>

struct DeviceEntry
{
    QString sId;
    QString sUrl;
    QString sUser;
    QString sPassword;
    QString sPin; // "sha256:<hex>" or empty
};

// Checks that a device URL has an http or https scheme and a host; returns it without trailing slashes
// (the plugin appends its paths to the URL as it is), or an empty string with a one-line message.
QString normalizedDeviceUrl(const QString &sUrl, QString *psError);

// The device id used on the command line with --url: host, port and path, so that devices behind one
// address differ.
QString deviceIdFromUrl(const QString &sUrl);

// Reads a device file: one device per line as "id,url,user,password,pin"; '#' lines and blank lines are
// skipped; fields may be double-quoted with "" for a quote inside. User, password and pin may be empty or
// missing; empty user and password are left for the caller to fill. False with a one-line message naming
// the line.
bool readDeviceFile(const QString &sPath, QList<DeviceEntry> *plDevices, QString *psError);

#endif // KESTROLCTL_DEVICELIST_H
