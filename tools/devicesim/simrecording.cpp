#include "simrecording.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace devicesim {

namespace {

// The library adds the connection's addresses to the request headers; the client never sent them.
bool isConnectionPseudoHeader(const QByteArray &baName)
{
    return baName == "remote_addr" || baName == "remote_port" || baName == "local_addr" ||
           baName == "local_port";
}

QJsonObject headersToJson(const QHash<QByteArray, QByteArray> &hHeaders)
{
    QJsonObject headers;
    for (auto it = hHeaders.cbegin(); it != hHeaders.cend(); ++it)
        headers.insert(QString::fromLatin1(it.key()), QString::fromLatin1(it.value()));
    return headers;
}

QJsonArray partsToJson(const QList<RecordedPart> &lParts)
{
    QJsonArray parts;
    for (const RecordedPart &part : lParts) {
        parts.append(QJsonObject{{"name", QString::fromUtf8(part.name)},
                                 {"filename", QString::fromUtf8(part.filename)},
                                 {"contentType", QString::fromLatin1(part.contentType)},
                                 {"size", double(part.size)},
                                 {"sha256", QString::fromLatin1(part.sha256Hex)}});
    }
    return parts;
}

} // namespace

RecordedRequest describeRequest(const httplib::Request &req)
{
    RecordedRequest record;
    record.method = QByteArray::fromStdString(req.method);
    record.target = QByteArray::fromStdString(req.target);
    for (const auto &header : req.headers) {
        const QByteArray baName = QByteArray::fromStdString(header.first).toLower();
        if (isConnectionPseudoHeader(baName))
            continue;
        QByteArray &baValue = record.headers[baName];
        baValue += (baValue.isEmpty() ? "" : ", ") + QByteArray::fromStdString(header.second);
    }
    record.contentType = record.headers.value("content-type");

    // The id is taken from the raw path so that an id holding an encoded "/" still names one device.
    const int iQuery = record.target.indexOf('?');
    const QByteArray baPath = iQuery < 0 ? record.target : record.target.left(iQuery);
    const QByteArray baDevicePrefix = "/dev/";
    if (baPath.startsWith(baDevicePrefix)) {
        const int iSlash = baPath.indexOf('/', baDevicePrefix.size());
        const QByteArray baIdSegment =
            baPath.mid(baDevicePrefix.size(), iSlash < 0 ? -1 : iSlash - baDevicePrefix.size());
        record.deviceId = QString::fromUtf8(QByteArray::fromPercentEncoding(baIdSegment));
        record.apiPath = iSlash < 0 ? QByteArray() : baPath.mid(iSlash);
    } else {
        record.apiPath = baPath;
    }
    return record;
}

QByteArray mergeSlashes(const QByteArray &baPath)
{
    QByteArray baMerged;
    baMerged.reserve(baPath.size());
    for (char c : baPath) {
        if (c != '/' || !baMerged.endsWith('/'))
            baMerged.append(c);
    }
    return baMerged;
}

QByteArray recordsToJson(const QList<RecordedRequest> &lRecords)
{
    QJsonArray records;
    for (const RecordedRequest &record : lRecords) {
        QJsonObject object{{"device", record.deviceId},
                           {"method", QString::fromLatin1(record.method)},
                           {"target", QString::fromUtf8(record.target)},
                           {"apiPath", QString::fromUtf8(record.apiPath)},
                           {"headers", headersToJson(record.headers)},
                           {"bodySize", double(record.bodySize)},
                           {"contentType", QString::fromLatin1(record.contentType)},
                           {"parts", partsToJson(record.parts)},
                           {"inFlight", record.inFlight}};
        if (!record.body.isEmpty())
            object.insert("bodyBase64", QString::fromLatin1(record.body.toBase64()));
        records.append(object);
    }
    return QJsonDocument(records).toJson(QJsonDocument::Indented);
}

} // namespace devicesim
