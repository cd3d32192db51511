#include "simfaultjson.h"

namespace devicesim {

Fault faultFromJson(const QJsonObject &object)
{
    Fault fault;
    const auto number = [&object](const char *pcName, qint64 iDefault) {
        return qint64(object.value(QLatin1String(pcName)).toDouble(double(iDefault)));
    };
    const auto flag = [&object](const char *pcName) { return object.value(QLatin1String(pcName)).toBool(); };
    fault.status = int(number("status", 0));
    fault.delayMs = int(number("delayMs", 0));
    fault.hang = flag("hang");
    fault.dropMidBody = flag("dropMidBody");
    fault.chunked = flag("chunked");
    fault.lengthMismatch = number("lengthMismatch", 0);
    fault.badChunk = flag("badChunk");
    fault.emptyBody = flag("emptyBody");
    fault.notJson = flag("notJson");
    fault.largeBodyBytes = number("largeBodyBytes", 0);
    fault.body = object.value(QLatin1String("body")).toString().toUtf8();
    fault.redirectTo = object.value(QLatin1String("redirectTo")).toString();
    fault.unauthorizedTimes = int(number("unauthorizedTimes", 0));
    return fault;
}

} // namespace devicesim
