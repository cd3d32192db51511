// Faults as the control endpoint takes them: a JSON object whose members are the fields of Fault.
#pragma once

#include "devicesim.h"

#include <QJsonObject>

namespace devicesim {

// Members that are missing or of another type keep the field's default.
Fault faultFromJson(const QJsonObject &object);

} // namespace devicesim
