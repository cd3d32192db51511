#ifndef KESTROLDEVICE_H
#define KESTROLDEVICE_H

#include "device.h"

#include <QList>
#include <QMutex>
#include <QSharedPointer>
#include <QtGlobal>

class ApiRequestCommand;

// A camera or recorder of this family: a Device with its kind, an API certificate countdown, a session
// identifier, the certificate pin its requests carry, and a queue of its own.
class KestrolDevice : public Device
{
    Q_OBJECT

public:
    KestrolDevice(QString sId, QString sUrl, QString sUser, QString sPassword, QString sDeviceType,
                  QObject *parent = nullptr);

    // One 100 ms step of the certificate countdown; never wraps below 0.
    void prTimer();
    bool isApiCertificateValid() const { return iApiCertificateValidity != 0; }
    // Starts the two-minute countdown; the plugin ages only devices that announced one.
    void setApiCertificateValid();

    void setSessionId(QString sValue) { sSessionId = std::move(sValue); }
    QString getSessionId() const { return sSessionId; }
    QString getDeviceType() const { return sDeviceType; }
    // 64 lower-case hex digits, or empty when the device is not pinned.
    QString getCertificatePin() const { return sCertificatePin; }
    void setCertificatePin(QString sValue) { sCertificatePin = std::move(sValue); }
    // Whether the URL is http or https with a host. Worked out again only when the URL changed: parsing it
    // for every request would be a good part of what a request costs.
    bool hasSupportedUrl() const;

    void addPendingApiRequest(QSharedPointer<ApiRequestCommand> pRequest);
    // Every pending request, oldest first; the queue is empty afterwards.
    QList<QSharedPointer<ApiRequestCommand>> getQueuedRequests();

signals:
    void signal_countdownStarted();

protected:
    quint32 iApiCertificateValidity = 0;
    QList<QSharedPointer<ApiRequestCommand>> lPendingRequests;
    QMutex mutexPendingRequests;
    QString sSessionId;
    QString sDeviceType;
    QString sCertificatePin;

private:
    mutable QString sCheckedUrl;
    mutable bool bSupportedUrl = false;
};

#endif // KESTROLDEVICE_H
