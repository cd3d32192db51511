#include "soakrun.h"

#include "deviceapiinterface.h"

#include <QNetworkAccessManager>

// Each device's simulator and addresses follow from its kind; faults go to every API path of it.
bool SoakRun::prPlanDevices()
{
    const QList<int> lSlots = ChaosPlan::deviceSlots(options.lKinds);
    if (lSlots.isEmpty()) {
        report.sError = QStringLiteral("unknown fault kind in %1").arg(options.lKinds.join(QLatin1Char(',')));
        return false;
    }
    QList<SimFleet::FaultSetting> lSettings;
    for (int i = 0; i < options.iDevices; ++i) {
        SoakDevice device;
        device.sId = QStringLiteral("soak-%1").arg(i);
        device.iKind = ChaosPlan::kindOfDevice(lSlots, i);
        const ChaosPlan::Kind &kind = ChaosPlan::kinds().at(device.iKind);
        device.sPassword = QString::fromLatin1(SimFleet::kPassword);
        device.lParam = {QStringLiteral("camera")};
        const int iServer = (kind.bRough ? 4 : 0) + i % 4;
        device.sUrl = fleet.baseUrl(iServer, i);
        switch (kind.address) {
        case ChaosPlan::Address::Device:
            break;
        case ChaosPlan::Address::HttpsOnHttp:
            device.sUrl =
                fleet.baseUrl(iServer % 2, i).replace(QStringLiteral("http://"), QStringLiteral("https://"));
            break;
        case ChaosPlan::Address::WrongPin:
            device.sUrl = fleet.baseUrl(2 + iServer % 2, i);
            device.lParam.append(QStringLiteral("sha256:") + QString(64, QLatin1Char('0')));
            break;
        case ChaosPlan::Address::WrongPass:
            device.sPassword = QString::fromLatin1(SimFleet::kWrongPassword);
            break;
        case ChaosPlan::Address::FileUrl:
            device.sUrl = QStringLiteral("file:///etc/hostname?");
            break;
        case ChaosPlan::Address::Alternating:
            device.sOtherUrl = fleet.baseUrl(3 - iServer, i);
            vChurnDevices.append(i);
            break;
        }
        const QByteArray baFault = ChaosPlan::faultOf(device.iKind, options.iTimeoutMs);
        if (!baFault.isEmpty()) {
            for (const QByteArray &baPath : ChaosPlan::apiPaths())
                lSettings.append({iServer, i, baPath, baFault});
        }
        vDevices.append(device);
    }
    vPresent.fill(true, vDevices.size());
    QNetworkAccessManager manager;
    return fleet.setFaults(manager, lSettings, &report.sError);
}

void SoakRun::prRegisterDevices()
{
    for (const SoakDevice &device : qAsConst(vDevices))
        pApi->createDevice(device.sId, device.sUrl, QString::fromLatin1(SimFleet::kUser), device.sPassword,
                           device.lParam);
}

// One change to a churned device, while its requests are queued and in flight.
void SoakRun::prChurn()
{
    if (vChurnDevices.isEmpty())
        return;
    const int iIndex = vChurnDevices.at(int(rng.bounded(quint32(vChurnDevices.size()))));
    SoakDevice &device = vDevices[iIndex];
    const QString sUser = QString::fromLatin1(SimFleet::kUser);
    ++report.iChurnOperations;
    if (!vPresent.at(iIndex)) {
        pApi->createDevice(device.sId, device.sUrl, sUser, device.sPassword, device.lParam);
        vPresent[iIndex] = true;
        return;
    }
    switch (rng.bounded(4u)) {
    case 0: // gone until a later change brings it back
        pApi->deleteDevice(device.sId);
        vPresent[iIndex] = false;
        break;
    case 1: // registered anew at once
        pApi->deleteDevice(device.sId);
        pApi->createDevice(device.sId, device.sUrl, sUser, device.sPassword, device.lParam);
        break;
    case 2: // the other simulator: another scheme and authentication
        std::swap(device.sUrl, device.sOtherUrl);
        pApi->changeDevice(device.sId, device.sUrl, sUser, device.sPassword, {});
        break;
    default: // a password the device refuses, or the right one again
        device.sPassword = device.sPassword == QLatin1String(SimFleet::kPassword)
                               ? QString::fromLatin1(SimFleet::kWrongPassword)
                               : QString::fromLatin1(SimFleet::kPassword);
        pApi->changeDevice(device.sId, device.sUrl, sUser, device.sPassword, {});
        break;
    }
}
