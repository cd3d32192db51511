// What the simulator writes down about each request, and the JSON form served on the control path.
#pragma once

#include "devicesim.h"

namespace httplib {
struct Request;
}

namespace devicesim {

// Everything but the body, which is streamed into the record later.
RecordedRequest describeRequest(const httplib::Request &req);

QByteArray mergeSlashes(const QByteArray &baPath);

QByteArray recordsToJson(const QList<RecordedRequest> &lRecords);

} // namespace devicesim
