#include "kestroldevice.h"

#include "apirequestcommand.h"

#include <QMutexLocker>
#include <QUrl>

KestrolDevice::KestrolDevice(QString sId, QString sUrl, QString sUser, QString sPassword, QString sDeviceType,
                             QObject *parent)
    : Device(std::move(sId), std::move(sUrl), std::move(sUser), std::move(sPassword), parent),
      sDeviceType(std::move(sDeviceType))
{
}

void KestrolDevice::prTimer()
{
    iApiCertificateValidity = iApiCertificateValidity > 99 ? iApiCertificateValidity - 100 : 0;
}

void KestrolDevice::setApiCertificateValid()
{
    iApiCertificateValidity = 120000;
    emit signal_countdownStarted();
}

void KestrolDevice::addPendingApiRequest(QSharedPointer<ApiRequestCommand> pRequest)
{
    QMutexLocker locker(&mutexPendingRequests);
    lPendingRequests.append(std::move(pRequest));
}

QList<QSharedPointer<ApiRequestCommand>> KestrolDevice::getQueuedRequests()
{
    QMutexLocker locker(&mutexPendingRequests);
    QList<QSharedPointer<ApiRequestCommand>> lQueued;
    lQueued.swap(lPendingRequests);
    return lQueued;
}

bool KestrolDevice::hasSupportedUrl() const
{
    if (sCheckedUrl.isNull() || sCheckedUrl != sUrl) {
        const QUrl url(sUrl, QUrl::TolerantMode);
        bSupportedUrl = url.isValid() &&
                        (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) &&
                        !url.host().isEmpty();
        sCheckedUrl = sUrl;
    }
    return bSupportedUrl;
}
