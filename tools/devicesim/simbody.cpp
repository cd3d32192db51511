#include "simbody.h"

#include <httplib.h>

#include <QCryptographicHash>

namespace devicesim {

namespace {

ReceivedBody readMultipart(const httplib::Request &req, const httplib::ContentReader &reader,
                           RecordedRequest &record, bool bKeepFile, BufferMeter &meter)
{
    ReceivedBody received;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    bool bKeepingPart = false;
    auto finishPart = [&] {
        if (!record.parts.isEmpty())
            record.parts.last().sha256Hex = hash.result().toHex();
        hash.reset();
    };
    received.bComplete = reader(
        [&](const httplib::MultipartFormData &part) {
            finishPart();
            RecordedPart recorded;
            recorded.name = QByteArray::fromStdString(part.name);
            recorded.filename = QByteArray::fromStdString(part.filename);
            recorded.contentType = QByteArray::fromStdString(part.content_type);
            record.parts.append(recorded);
            // Only the first "file" part counts, as a device reads one field of that name.
            bKeepingPart = recorded.name == "file" && !received.bHasFile;
            received.bHasFile = received.bHasFile || recorded.name == "file";
            return true;
        },
        [&](const char *pData, size_t iLength) {
            if (record.parts.isEmpty())
                return false;
            record.parts.last().size += qint64(iLength);
            hash.addData(pData, int(iLength));
            if (bKeepingPart && bKeepFile) {
                received.baFile.append(pData, int(iLength));
                meter.note(received.baFile.size());
            }
            return true;
        });
    finishPart();
    if (req.has_header("Content-Length")) {
        record.bodySize = qint64(req.get_header_value<uint64_t>("Content-Length"));
    } else {
        for (const RecordedPart &part : record.parts)
            record.bodySize += part.size;
    }
    return received;
}

} // namespace

ReceivedBody readRequestBody(const httplib::Request &req, const httplib::ContentReader &reader,
                             RecordedRequest &record, bool bKeepFile, BufferMeter &meter)
{
    if (req.is_multipart_form_data())
        return readMultipart(req, reader, record, bKeepFile, meter);

    ReceivedBody received;
    received.bComplete = reader([&](const char *pData, size_t iLength) {
        record.bodySize += qint64(iLength);
        if (record.bodySize <= kKeptBodyBytes) {
            record.body.append(pData, int(iLength));
            meter.note(record.body.size());
        } else {
            record.body.clear();
        }
        return true;
    });
    return received;
}

} // namespace devicesim
