#include "simulator_p.h"

#include "simsnapshot.h"

#include <httplib.h>

#include <QUrl>

namespace devicesim {

Simulator::Simulator() : Simulator(Options()) {}

Simulator::Simulator(Options options) : d(new Private(options)) {}

Simulator::~Simulator()
{
    stop();
}

quint16 Simulator::port() const
{
    return d->iPort;
}

QString Simulator::errorString() const
{
    return d->sError;
}

bool Simulator::isTls() const
{
    return d->options.tls;
}

QString Simulator::Private::baseUrl(const QString &sId) const
{
    return QStringLiteral("%1://127.0.0.1:%2/dev/%3")
        .arg(options.tls ? "https" : "http")
        .arg(iPort.load())
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(sId)));
}

QString Simulator::addDevice(const QString &sId, DeviceConfig config)
{
    QMutexLocker locker(&d->mutex);
    d->hDevices.insert(sId, std::make_shared<DeviceState>(sId, config));
    return d->baseUrl(sId);
}

QString Simulator::baseUrl(const QString &sId) const
{
    return d->baseUrl(sId);
}

void Simulator::setFault(const QString &sId, const QString &sApiPath, Fault fault)
{
    QMutexLocker locker(&d->mutex);
    if (const std::shared_ptr<DeviceState> pDevice = d->hDevices.value(sId))
        pDevice->hFaults.insert(sApiPath, fault);
    d->wakeUp.wakeAll();
}

void Simulator::clearFaults(const QString &sId)
{
    QMutexLocker locker(&d->mutex);
    if (const std::shared_ptr<DeviceState> pDevice = d->hDevices.value(sId))
        pDevice->hFaults.clear();
    d->wakeUp.wakeAll();
}

void Simulator::setUnavailable(const QString &sId, int iRequests)
{
    QMutexLocker locker(&d->mutex);
    if (const std::shared_ptr<DeviceState> pDevice = d->hDevices.value(sId))
        pDevice->iUnavailableRequests = iRequests;
}

void Simulator::setExportUrlForm(const QString &sId, ExportUrlForm form)
{
    QMutexLocker locker(&d->mutex);
    if (const std::shared_ptr<DeviceState> pDevice = d->hDevices.value(sId))
        pDevice->exportUrlForm = form;
}

void Simulator::setExportUrlOverride(const QString &sId, const QString &sUrl)
{
    QMutexLocker locker(&d->mutex);
    if (const std::shared_ptr<DeviceState> pDevice = d->hDevices.value(sId))
        pDevice->sExportUrlOverride = sUrl;
}

QList<RecordedRequest> Simulator::requests(const QString &sId) const
{
    QMutexLocker locker(&d->mutex);
    if (sId.isEmpty())
        return d->lRecords;
    QList<RecordedRequest> lSelected;
    for (const RecordedRequest &record : qAsConst(d->lRecords)) {
        if (record.deviceId == sId)
            lSelected.append(record);
    }
    return lSelected;
}

void Simulator::clearRequests()
{
    QMutexLocker locker(&d->mutex);
    d->lRecords.clear();
    QMutexLocker offersLocker(&d->protocolOffers.mutex);
    d->protocolOffers.lOffers.clear();
}

QList<QByteArray> Simulator::protocolOffers() const
{
    QMutexLocker locker(&d->protocolOffers.mutex);
    return d->protocolOffers.lOffers;
}

QByteArray Simulator::settings(const QString &sId) const
{
    QMutexLocker locker(&d->mutex);
    const std::shared_ptr<DeviceState> pDevice = d->hDevices.value(sId);
    return pDevice ? pDevice->settings() : QByteArray();
}

FirmwareState Simulator::firmware(const QString &sId) const
{
    QMutexLocker locker(&d->mutex);
    const std::shared_ptr<DeviceState> pDevice = d->hDevices.value(sId);
    return pDevice ? pDevice->firmware : FirmwareState();
}

int Simulator::rebootCount(const QString &sId) const
{
    QMutexLocker locker(&d->mutex);
    const std::shared_ptr<DeviceState> pDevice = d->hDevices.value(sId);
    return pDevice ? pDevice->iReboots : 0;
}

int Simulator::factoryResetCount(const QString &sId) const
{
    QMutexLocker locker(&d->mutex);
    const std::shared_ptr<DeviceState> pDevice = d->hDevices.value(sId);
    return pDevice ? pDevice->iFactoryResets : 0;
}

QByteArray Simulator::snapshotJpeg(int iChannel) const
{
    return channelSnapshot(iChannel);
}

qint64 Simulator::peakBufferedBytes() const
{
    return d->meter.peak();
}

} // namespace devicesim
