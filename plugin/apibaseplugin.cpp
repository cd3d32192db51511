#include "apibaseplugin.h"

ApiBasePlugin::ApiBasePlugin() : sVesoDeviceType("0"), sVersion("0.0"), sPluginName("undefined") {}

void ApiBasePlugin::addDevice(QString sDeviceId, Device *pDevice)
{
    hDevices.insert(sDeviceId, pDevice);
}

Device *ApiBasePlugin::getDevice(QString sDeviceId) const
{
    return hDevices.value(sDeviceId, nullptr);
}

Device *ApiBasePlugin::takeDevice(const QString &sDeviceId)
{
    return hDevices.take(sDeviceId);
}
