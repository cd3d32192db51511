// Streams a request body into its record: sizes and SHA-256 per multipart part, small plain bodies kept.
#pragma once

#include "devicesim.h"
#include "simreply.h"

namespace httplib {
struct Request;
class ContentReader;
} // namespace httplib

namespace devicesim {

constexpr qint64 kKeptBodyBytes = 64 * 1024;

struct ReceivedBody
{
    bool bComplete = true; // false: cut short or malformed; the connection's stream is no longer usable
    bool bHasFile = false; // a multipart part named "file" arrived
    QByteArray baFile;     // its bytes, when the caller asked to keep them
};

ReceivedBody readRequestBody(const httplib::Request &req, const httplib::ContentReader &reader,
                             RecordedRequest &record, bool bKeepFile, BufferMeter &meter);

} // namespace devicesim
