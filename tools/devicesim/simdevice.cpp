#include "simdevice.h"

#include "simsnapshot.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

namespace devicesim {

namespace {

const char kExportFilePath[] = "/files/export/settings.ndb";

struct Route
{
    const char *pPath;
    Endpoint endpoint;
    const char *pMethod;
};

const Route kRoutes[] = {
    {"/api/system/info/", Endpoint::Info, "GET"},
    {"/api/system/management/reboot/", Endpoint::Reboot, "POST"},
    {"/api/system/management/factory_default/", Endpoint::FactoryDefault, "POST"},
    {"/api/system/management/db/export/", Endpoint::DbExport, "POST"},
    {"/api/system/management/db/import/", Endpoint::DbImport, "POST"},
    {"/api/system/management/fwupdate/upload/", Endpoint::FwUpload, "POST"},
    {"/api/system/management/fwupdate/progress/", Endpoint::FwProgress, "GET"},
    {"/api/bi/counter/statistics/", Endpoint::CounterStatistics, "GET"},
    {"/api/snapshot/jpeg/", Endpoint::Snapshot, "GET"},
    {kExportFilePath, Endpoint::ExportFile, "GET"},
};

QByteArray compact(const QJsonDocument &document)
{
    return document.toJson(QJsonDocument::Compact);
}

Reply okReply(QJsonObject object = {})
{
    object.insert("status", "ok");
    return jsonReply(200, compact(QJsonDocument(object)));
}

// Binary on purpose (every byte value, CR and LF included) so that a download that is not byte-exact shows.
QByteArray defaultSettings(const QString &sId)
{
    QByteArray baSettings = "KESTROL-NDB\x01" + sId.toUtf8() + '\0';
    QRandomGenerator generator(qHash(sId));
    for (int i = 0; i < 4096; ++i)
        baSettings.append(char(i < 256 ? i : int(generator.bounded(256))));
    return baSettings;
}

QList<QPair<QString, QList<int>>> countersOf(const DeviceConfig &config)
{
    if (!config.counters.isEmpty())
        return config.counters;
    return {{"in", {12, 7, 0, 31}}, {"out", {9, 4, 2, 27}}};
}

QString paramValue(const QueryParams &params, const char *pKey, bool *pFound = nullptr)
{
    const auto it = params.find(pKey);
    if (pFound)
        *pFound = it != params.end();
    return it == params.end() ? QString() : QString::fromUtf8(it->second.data(), int(it->second.size()));
}

bool isDateTime(const QString &sText)
{
    return QDateTime::fromString(sText, "yyyy-MM-dd HH:mm:ss").isValid() ||
           QDateTime::fromString(sText, Qt::ISODate).isValid();
}

Reply answerInfo(const DeviceState &device)
{
    const QByteArray baSerial =
        QCryptographicHash::hash(device.sId.toUtf8(), QCryptographicHash::Sha256).toHex().left(8).toUpper();
    const QJsonObject info{
        {"swver", device.sFirmwareVersion},
        {"mac", device.config.mac},
        {"model", "KS-C420"},
        {"serial", QString::fromLatin1("KS" + baSerial)},
        {"name", device.sId},
        {"uptime", double(device.upSince.elapsed() / 1000)},
    };
    return jsonReply(200, compact(QJsonDocument(info)));
}

Reply answerExport(const DeviceState &device, const QString &sBaseUrl)
{
    QString sUrl = device.sExportUrlOverride;
    if (sUrl.isEmpty()) {
        switch (device.exportUrlForm) {
        case ExportUrlForm::PlainPath:
            sUrl = kExportFilePath;
            break;
        case ExportUrlForm::BackslashPath:
            sUrl = QString(kExportFilePath).replace('/', '\\');
            break;
        case ExportUrlForm::AbsoluteUrl:
            sUrl = sBaseUrl + kExportFilePath;
            break;
        }
    }
    return jsonReply(200, compact(QJsonDocument(QJsonObject{{"url", sUrl}})));
}

const RecordedPart *firstFilePart(const RecordedRequest &record)
{
    for (const RecordedPart &part : record.parts) {
        if (part.name == "file")
            return &part;
    }
    return nullptr;
}

Reply answerFirmwareUpload(DeviceState &device, const DeviceRequest &request)
{
    const RecordedPart *pPart = firstFilePart(*request.pRecord);
    if (!pPart)
        return errorReply(400, "missing field \"file\"");
    device.firmware.uploads += 1;
    device.firmware.size = pPart->size;
    device.firmware.sha256Hex = pPart->sha256Hex;
    device.bUpdatePending = true;
    return okReply({{"size", double(pPart->size)}, {"sha256", QString::fromLatin1(pPart->sha256Hex)}});
}

// Reporting the finished update installs it: the device runs the new version and goes away to reboot.
Reply answerFirmwareProgress(DeviceState &device)
{
    const bool bDone = device.firmware.uploads > 0;
    if (device.bUpdatePending) {
        device.bUpdatePending = false;
        if (!device.config.swverAfterUpdate.isEmpty())
            device.sFirmwareVersion = device.config.swverAfterUpdate;
        device.awayUntil = QDeadlineTimer(device.config.updateRebootMs);
    }
    return jsonReply(200, compact(QJsonDocument(QJsonObject{{"progress", bDone ? 100 : 0},
                                                            {"state", bDone ? "done" : "idle"}})));
}

Reply answerCounters(const DeviceState &device, const QueryParams &params)
{
    if (paramValue(params, "format") != "json")
        return errorReply(400, "format must be json");
    bool bNumber = false;
    if (paramValue(params, "resolution").toInt(&bNumber) <= 0 || !bNumber)
        return errorReply(400, "resolution must be a positive number of seconds");
    const QStringList lPeriod = paramValue(params, "datetime").split(',');
    if (lPeriod.size() != 2 || !isDateTime(lPeriod[0]) || !isDateTime(lPeriod[1]))
        return errorReply(400, "datetime must be start,end");

    bool bNamed = false;
    const QString sName = paramValue(params, "counter_name", &bNamed);
    QJsonObject first;
    for (const auto &counter : countersOf(device.config)) {
        if (bNamed && counter.first != sName)
            continue;
        QJsonArray values;
        for (int iValue : counter.second)
            values.append(iValue);
        first.insert(counter.first, values);
    }
    first.insert("datetime", lPeriod[0]);
    return jsonReply(200, compact(QJsonDocument(QJsonArray{first})));
}

Reply answerSnapshot(const QueryParams &params)
{
    bool bFound = false;
    bool bNumber = false;
    const int iChannel = paramValue(params, "ch", &bFound).toInt(&bNumber);
    if (!bFound || !bNumber || iChannel < 0 || iChannel > kMaxChannel)
        return errorReply(400, "ch must be a channel number");
    Reply reply = jsonReply(200, channelSnapshot(iChannel));
    if (reply.baBody.isEmpty())
        return errorReply(500, "no JPEG encoder");
    reply.baContentType = "image/jpeg";
    return reply;
}

Reply answerExportFile(const DeviceState &device)
{
    Reply reply = jsonReply(200, device.settings());
    reply.baContentType = "application/octet-stream";
    return reply;
}

} // namespace

Endpoint findEndpoint(const QByteArray &baPath)
{
    for (const Route &route : kRoutes) {
        if (baPath == route.pPath)
            return route.endpoint;
    }
    return Endpoint::Unknown;
}

DeviceState::DeviceState(const QString &sIdIn, const DeviceConfig &configIn)
    : sId(sIdIn), config(configIn), exportUrlForm(configIn.exportUrlForm), sFirmwareVersion(configIn.swver)
{
    realm.mode = config.auth;
    realm.sUser = config.user;
    realm.sPassword = config.password;
    realm.baRealm = "kestrol device " + sId.toUtf8();
    realm.baOpaque = QCryptographicHash::hash(realm.baRealm, QCryptographicHash::Md5).toHex();
    upSince.start();
}

QByteArray DeviceState::settings() const
{
    if (importedSettings)
        return *importedSettings;
    return config.settings.isEmpty() ? defaultSettings(sId) : config.settings;
}

Reply answerDeviceRequest(DeviceState &device, const DeviceRequest &request)
{
    if (request.endpoint == Endpoint::Unknown)
        return errorReply(404, "no such path");
    const Route *pRoute = std::find_if(std::begin(kRoutes), std::end(kRoutes), [&](const Route &route) {
        return route.endpoint == request.endpoint;
    });
    const bool bGetLike = request.baMethod == "GET" || request.baMethod == "HEAD";
    if (request.baMethod != pRoute->pMethod && !(bGetLike && qstrcmp(pRoute->pMethod, "GET") == 0)) {
        Reply reply = errorReply(405, "method not allowed");
        reply.addHeader("Allow", pRoute->pMethod);
        return reply;
    }

    switch (request.endpoint) {
    case Endpoint::Info:
        return answerInfo(device);
    case Endpoint::Reboot:
        device.iReboots += 1;
        return okReply();
    case Endpoint::FactoryDefault:
        device.iFactoryResets += 1;
        device.importedSettings.reset();
        return okReply();
    case Endpoint::DbExport:
        return answerExport(device, request.sBaseUrl);
    case Endpoint::DbImport:
        if (!request.pBody->bHasFile)
            return errorReply(400, "missing field \"file\"");
        device.importedSettings = request.pBody->baFile;
        return okReply();
    case Endpoint::FwUpload:
        return answerFirmwareUpload(device, request);
    case Endpoint::FwProgress:
        return answerFirmwareProgress(device);
    case Endpoint::CounterStatistics:
        return answerCounters(device, *request.pParams);
    case Endpoint::ExportFile:
        return answerExportFile(device);
    case Endpoint::Snapshot:
        return answerSnapshot(*request.pParams);
    case Endpoint::Unknown:
        break;
    }
    return errorReply(404, "no such path");
}

} // namespace devicesim
