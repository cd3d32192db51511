#ifndef APIBASEPLUGIN_H
#define APIBASEPLUGIN_H

#include <QHash>
#include <QString>
#include <QStringList>

class Device;

// Identity strings, public command names and the device table of a plugin. The table holds plain
// pointers and never destroys a device; the plugin that registers devices owns them.
class ApiBasePlugin
{
public:
    ApiBasePlugin();

    // Stores the pointer under the id, replacing (not destroying) a device stored there before.
    void addDevice(QString sDeviceId, Device *pDevice);
    // The device registered under the id, or null; never creates an entry.
    Device *getDevice(QString sDeviceId) const;
    // Removes the entry and hands the device to the caller, or returns null when the id is unknown.
    Device *takeDevice(const QString &sDeviceId);

protected:
    QStringList lCommands;
    QString sVesoDeviceType;
    QString sVersion;
    QString sPluginName;
    QHash<QString, Device *> hDevices;
};

#endif // APIBASEPLUGIN_H
