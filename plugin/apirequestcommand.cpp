#include "apirequestcommand.h"

ApiRequestCommand::ApiRequestCommand(QString sUuid, QString sDeviceId, QString sCommand,
                                     QList<QVariant> lParam)
    : sUuid(std::move(sUuid)), sDeviceId(std::move(sDeviceId)), sCommand(std::move(sCommand)),
      lParam(std::move(lParam))
{
}
