// State of one virtual device and its answers to the device API, one function per concern.
#pragma once

#include "devicesim.h"
#include "simauth.h"
#include "simbody.h"
#include "simreply.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>

#include <map>
#include <optional>
#include <string>

namespace devicesim {

enum class Endpoint
{
    Unknown,
    Info,
    Reboot,
    FactoryDefault,
    DbExport,
    DbImport,
    FwUpload,
    FwProgress,
    CounterStatistics,
    Snapshot,
    ExportFile,
};

// Path below the device base, repeated slashes already merged.
Endpoint findEndpoint(const QByteArray &baPath);

struct DeviceState
{
    DeviceState(const QString &sId, const DeviceConfig &config);

    QString sId;
    DeviceConfig config; // as added; a factory reset returns to it
    // Unset: the factory settings, made when asked for, so that thousands of devices cost little memory.
    std::optional<QByteArray> importedSettings;
    ExportUrlForm exportUrlForm;
    QString sExportUrlOverride;
    QHash<QString, Fault> hFaults;
    int iReboots = 0;
    int iFactoryResets = 0;
    FirmwareState firmware;
    QString sFirmwareVersion;     // what the device reports; survives a factory reset
    bool bUpdatePending = false;  // an image arrived and is installed when the device reports it finished
    QDeadlineTimer awayUntil;     // expired (the default) while the device is up
    int iUnavailableRequests = 0; // answered with 503 before any other
    AuthRealm realm;
    NonceBook nonces;
    QElapsedTimer upSince;

    QByteArray settings() const;
};

using QueryParams = std::multimap<std::string, std::string>;

struct DeviceRequest
{
    QByteArray baMethod;
    Endpoint endpoint = Endpoint::Unknown;
    const QueryParams *pParams = nullptr;
    const ReceivedBody *pBody = nullptr;
    const RecordedRequest *pRecord = nullptr;
    QString sBaseUrl;
};

Reply answerDeviceRequest(DeviceState &device, const DeviceRequest &request);

} // namespace devicesim
