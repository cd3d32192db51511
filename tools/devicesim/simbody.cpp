#include "simbody.h"

#include <httplib.h>

#include <openssl/evp.h>

namespace devicesim {

namespace {

// SHA-256 through OpenSSL, which uses the CPU's SHA instructions: Qt's own digest runs at a fraction of
// loopback speed, and the simulator would then be what limits a large upload.
class PartDigest
{
public:
    PartDigest() : pContext(EVP_MD_CTX_new()) { reset(); }
    ~PartDigest() { EVP_MD_CTX_free(pContext); }
    PartDigest(const PartDigest &) = delete;
    PartDigest &operator=(const PartDigest &) = delete;

    void reset() { EVP_DigestInit_ex(pContext, EVP_sha256(), nullptr); }
    void addData(const char *pData, size_t iLength) { EVP_DigestUpdate(pContext, pData, iLength); }
    // The digest of what was added since the last reset; reset() must follow before more is added.
    QByteArray result()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int iSize = 0;
        EVP_DigestFinal_ex(pContext, digest, &iSize);
        return QByteArray(reinterpret_cast<const char *>(digest), int(iSize));
    }

private:
    EVP_MD_CTX *pContext;
};

ReceivedBody readMultipart(const httplib::Request &req, const httplib::ContentReader &reader,
                           RecordedRequest &record, bool bKeepFile, BufferMeter &meter)
{
    ReceivedBody received;
    PartDigest hash;
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
            hash.addData(pData, iLength);
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
