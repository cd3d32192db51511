// The road of one request: record it, check the device and its credentials, apply the injected fault, answer.
#include "simulator_p.h"

#include "simbody.h"
#include "simfaultjson.h"
#include "simrecording.h"

#include <httplib.h>

#include <QDeadlineTimer>
#include <QJsonDocument>

namespace devicesim {

namespace {

Reply unauthorized(DeviceState &device)
{
    Reply reply = errorReply(401, "unauthorized");
    reply.addHeader("WWW-Authenticate", challenge(device.realm, device.nonces));
    return reply;
}

// Reply-shaping faults keep what the device did and change what it says; transfer faults change how.
void shapeReply(Reply &reply, const Fault &fault)
{
    if (fault.largeBodyBytes > 0 || !fault.body.isEmpty() || fault.notJson || fault.emptyBody) {
        reply = jsonReply(200, fault.body);
        if (fault.largeBodyBytes > 0) {
            reply.iGeneratedBytes = fault.largeBodyBytes;
            reply.baContentType = "application/octet-stream";
        } else if (fault.body.isEmpty() && fault.notJson) {
            reply.baBody = "<html><body><h1>Device busy</h1></body></html>";
            reply.baContentType = "text/html";
        }
    }
    reply.bChunked = fault.chunked;
    reply.bDropMidBody = fault.dropMidBody;
    reply.iLengthMismatch = fault.lengthMismatch;
    reply.bBadChunk = fault.badChunk;
}

struct InFlight
{
    explicit InFlight(std::atomic<int> *pCounterIn) : pCounter(pCounterIn), iCount(pCounter ? ++*pCounter : 0)
    {
    }
    ~InFlight()
    {
        if (pCounter)
            --*pCounter;
    }
    InFlight(const InFlight &) = delete;
    InFlight &operator=(const InFlight &) = delete;

    std::atomic<int> *pCounter;
    const int iCount;
};

} // namespace

void Simulator::Private::serve(const httplib::Request &req, httplib::Response &res,
                               const httplib::ContentReader *pReader)
{
    RecordedRequest record = describeRequest(req);
    // Answers go out uncompressed so that sizes on the wire are the sizes a test set up. The library's
    // request object is not const, only the handler's view of it.
    const_cast<httplib::Request &>(req).headers.erase("Accept-Encoding");

    const bool bControl = record.deviceId.isEmpty() && record.apiPath.startsWith("/_sim/");
    // Counted from the request line to the end of the handler, body included: what a client sees in flight.
    const InFlight inFlight(bControl ? nullptr : &iInFlight);
    record.inFlight = inFlight.iCount;
    const bool bImport = findEndpoint(mergeSlashes(record.apiPath)) == Endpoint::DbImport;
    // A request with neither length nor chunked coding has no body; the library would instead read up to the
    // end of the connection.
    const bool bHasBody = record.headers.contains("content-length") ||
                          record.headers.value("transfer-encoding").toLower().contains("chunked");
    const ReceivedBody body = pReader && bHasBody
                                  ? readRequestBody(req, *pReader, record, bImport && !bControl, meter)
                                  : ReceivedBody();
    if (bControl) {
        serveControl(req, res, record);
        return;
    }
    addRecord(record);

    Reply reply;
    if (body.bComplete) {
        reply = answer(req, record, body);
    } else {
        reply = errorReply(400, "malformed or incomplete body");
        reply.bCloseAfter = true;
    }
    writeReply(res, reply, bStopping, meter);
}

Reply Simulator::Private::answer(const httplib::Request &req, const RecordedRequest &record,
                                 const ReceivedBody &body)
{
    QMutexLocker locker(&mutex);
    const std::shared_ptr<DeviceState> pDevice = hDevices.value(record.deviceId);
    if (!pDevice)
        return errorReply(404, "no such device");
    DeviceState &device = *pDevice;
    if (!device.awayUntil.hasExpired())
        return errorReply(503, "rebooting");
    if (device.iUnavailableRequests > 0) {
        device.iUnavailableRequests -= 1;
        return errorReply(503, "starting up");
    }

    const QByteArray baRoute = mergeSlashes(record.apiPath);
    const QString sRoute = QString::fromUtf8(baRoute);
    Fault fault = device.hFaults.value(sRoute);
    if (fault.unauthorizedTimes > 0) {
        device.hFaults[sRoute].unauthorizedTimes -= 1;
        return unauthorized(device);
    }
    if (!isAuthorized(device.realm, device.nonces, record.method, record.target,
                      record.headers.value("authorization")))
        return unauthorized(device);
    if (!waitOutFault(device, sRoute, fault))
        return errorReply(503, "simulator stopping");
    if (fault.status != 0)
        return errorReply(fault.status, "injected fault");
    if (!fault.redirectTo.isEmpty()) {
        Reply reply = errorReply(302, "moved");
        reply.addHeader("Location", fault.redirectTo.toUtf8());
        return reply;
    }

    DeviceRequest request;
    request.baMethod = record.method;
    request.endpoint = findEndpoint(baRoute);
    request.pParams = &req.params;
    request.pBody = &body;
    request.pRecord = &record;
    request.sBaseUrl = baseUrl(device.sId);
    Reply reply = answerDeviceRequest(device, request);
    shapeReply(reply, fault);
    return reply;
}

bool Simulator::Private::waitOutFault(DeviceState &device, const QString &sRoute, Fault &fault)
{
    if (fault.delayMs > 0) {
        const QDeadlineTimer deadline(fault.delayMs);
        while (!bStopping && !deadline.hasExpired())
            wakeUp.wait(&mutex, deadline);
    }
    if (fault.hang) {
        while (!bStopping && device.hFaults.value(sRoute).hang)
            wakeUp.wait(&mutex);
        // Released by a change of faults: answer as the device is now set up.
        fault = device.hFaults.value(sRoute);
        fault.delayMs = 0;
    }
    return !bStopping;
}

void Simulator::Private::addRecord(const RecordedRequest &record)
{
    QMutexLocker locker(&mutex);
    lRecords.append(record);
    while (lRecords.size() > qMax(1, options.maxRecords))
        lRecords.removeFirst();
}

void Simulator::Private::serveControl(const httplib::Request &req, httplib::Response &res,
                                      const RecordedRequest &record)
{
    Reply reply = errorReply(404, "no such control path");
    if (mergeSlashes(record.apiPath) == "/_sim/requests") {
        const QString sDevice = QString::fromStdString(req.get_param_value("device"));
        QMutexLocker locker(&mutex);
        if (record.method == "GET" || record.method == "HEAD") {
            QList<RecordedRequest> lSelected;
            for (const RecordedRequest &recorded : qAsConst(lRecords)) {
                if (!req.has_param("device") || recorded.deviceId == sDevice)
                    lSelected.append(recorded);
            }
            reply = jsonReply(200, recordsToJson(lSelected));
        } else if (record.method == "DELETE") {
            lRecords.clear();
            reply = jsonReply(200, "{\"status\":\"ok\"}");
        }
    } else if (mergeSlashes(record.apiPath) == "/_sim/faults") {
        reply = changeFaults(req, record);
    }
    writeReply(res, reply, bStopping, meter);
}

// PUT ?device=ID&path=PATH with a fault object sets that fault, as setFault() does; DELETE clears the faults
// of ?device=ID, or of every device without it. Either releases hanging requests.
Reply Simulator::Private::changeFaults(const httplib::Request &req, const RecordedRequest &record)
{
    const QString sDevice = QString::fromStdString(req.get_param_value("device"));
    QMutexLocker locker(&mutex);
    if (record.method == "PUT") {
        const QJsonDocument document = QJsonDocument::fromJson(record.body);
        const std::shared_ptr<DeviceState> pDevice = hDevices.value(sDevice);
        if (!pDevice || !document.isObject() || !req.has_param("path"))
            return errorReply(400, "needs ?device=ID&path=PATH of a known device and a fault object");
        pDevice->hFaults.insert(QString::fromStdString(req.get_param_value("path")),
                                faultFromJson(document.object()));
    } else if (record.method == "DELETE") {
        for (const std::shared_ptr<DeviceState> &pDevice : qAsConst(hDevices)) {
            if (!req.has_param("device") || pDevice->sId == sDevice)
                pDevice->hFaults.clear();
        }
    } else {
        return errorReply(405, "PUT or DELETE");
    }
    wakeUp.wakeAll();
    return jsonReply(200, "{\"status\":\"ok\"}");
}

} // namespace devicesim
