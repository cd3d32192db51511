#include "device.h"

Device::Device(QString sId, QString sUrl, QString sUser, QString sPassword, QObject *parent)
    : QObject(parent), sId(std::move(sId)), sUrl(std::move(sUrl)), sUser(std::move(sUser)),
      sPassword(std::move(sPassword))
{
}
