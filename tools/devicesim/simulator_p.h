// Shared state of a Simulator: devices, records and the server; handlers run on the server's worker threads.
#pragma once

#include "devicesim.h"
#include "simdevice.h"
#include "simreply.h"

#include <QMutex>
#include <QWaitCondition>

#include <atomic>
#include <memory>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
} // namespace httplib

namespace devicesim {

struct ProtocolOffers
{
    mutable QMutex mutex;
    QList<QByteArray> lOffers;
};

struct Simulator::Private
{
    explicit Private(const Options &optionsIn) : options(optionsIn) {}

    void serve(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader *pReader);
    QString baseUrl(const QString &sId) const;

    const Options options;
    BufferMeter meter;
    std::atomic<bool> bStopping{false};
    std::atomic<quint16> iPort{0};
    std::atomic<int> iInFlight{0}; // device requests being served
    QString sError;                // why start() failed
    std::unique_ptr<httplib::Server> pServer;
    std::thread listener;

    // Guards everything below; wakeUp releases delayed and hanging handlers.
    mutable QMutex mutex;
    QWaitCondition wakeUp;
    QHash<QString, std::shared_ptr<DeviceState>> hDevices;
    QList<RecordedRequest> lRecords;
    ProtocolOffers protocolOffers; // written during TLS handshakes

private:
    Reply answer(const httplib::Request &req, const RecordedRequest &record, const ReceivedBody &body);
    bool waitOutFault(DeviceState &device, const QString &sRoute, Fault &fault);
    void serveControl(const httplib::Request &req, httplib::Response &res, const RecordedRequest &record);
    Reply changeFaults(const httplib::Request &req, const RecordedRequest &record);
    void addRecord(const RecordedRequest &record);
};

} // namespace devicesim
