#include "devicesim.h"

namespace devicesim {

struct Simulator::Private
{
    Options options;
};

Simulator::Simulator() : Simulator(Options()) {}

Simulator::Simulator(Options options) : d(new Private{options}) {}

Simulator::~Simulator()
{
    stop();
}

bool Simulator::start()
{
    return false;
}
void Simulator::stop() {}
quint16 Simulator::port() const
{
    return 0;
}
bool Simulator::isTls() const
{
    return d->options.tls;
}
QString Simulator::addDevice(const QString &sId, DeviceConfig)
{
    return baseUrl(sId);
}
QString Simulator::baseUrl(const QString &) const
{
    return QString();
}
void Simulator::setFault(const QString &, const QString &, Fault) {}
void Simulator::clearFaults(const QString &) {}
void Simulator::setExportUrlForm(const QString &, ExportUrlForm) {}
void Simulator::setExportUrlOverride(const QString &, const QString &) {}
QList<RecordedRequest> Simulator::requests(const QString &) const
{
    return {};
}
void Simulator::clearRequests() {}
QByteArray Simulator::settings(const QString &) const
{
    return {};
}
FirmwareState Simulator::firmware(const QString &) const
{
    return {};
}
int Simulator::rebootCount(const QString &) const
{
    return 0;
}
int Simulator::factoryResetCount(const QString &) const
{
    return 0;
}
QByteArray Simulator::snapshotJpeg(int) const
{
    return {};
}
qint64 Simulator::peakBufferedBytes() const
{
    return 0;
}

} // namespace devicesim
