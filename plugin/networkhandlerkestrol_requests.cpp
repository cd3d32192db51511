#include "networkhandlerkestrol.h"

#include "logging.h"
#include "logtext.h"

#include <QFile>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QSaveFile>
#include <QTimer>

namespace {

int timeoutFromEnvironment(const char *pcName, int iDefault)
{
    bool bOk = false;
    const int iValue = qEnvironmentVariableIntValue(pcName, &bOk);
    return bOk && iValue > 0 ? iValue : iDefault;
}

} // namespace

NetworkHandlerKestrol::NetworkHandlerKestrol(QNetworkAccessManager *pManager, QObject *parent)
    : QObject(parent), pNetworkAccessManager(pManager), pWatchdog(new QTimer(this)),
      locale(QLocale::system()),
      // Inactivity limits; tests lower them through the environment.
      iTransferTimeout(timeoutFromEnvironment("KESTROL_TRANSFER_TIMEOUT_MS", 60 * 1000)),
      // A device may check a whole image before it answers an upload.
      iUploadTimeout(timeoutFromEnvironment("KESTROL_UPLOAD_TIMEOUT_MS", 600 * 1000))
{
    clock.start();
    // One coarse timer for every request: a timer per reply costs Qt a linear search of all its timers
    // whenever one is stopped, which made a burst's cost grow with the square of its size.
    pWatchdog->setInterval(qBound(10, qMin(iTransferTimeout, iUploadTimeout) / 8, 1000));
    connect(pWatchdog, &QTimer::timeout, this, &NetworkHandlerKestrol::slotWatchdog);
    connect(pNetworkAccessManager, &QNetworkAccessManager::authenticationRequired, this,
            &NetworkHandlerKestrol::slotAuthenticationRequired);
}

// Requests in flight are abandoned: never answered, their uncommitted download files removed. Their replies
// belong to the access manager and may outlive the handler, so they are cut off from it and aborted; a
// multipart body goes with its reply.
NetworkHandlerKestrol::~NetworkHandlerKestrol()
{
    for (Request *pRequest : qAsConst(hRequests)) {
        if (pNetworkAccessManager) {
            disconnect(pRequest->pReply, nullptr, this, nullptr);
            pRequest->pReply->abort();
            pRequest->pReply->deleteLater();
        }
        delete pRequest;
    }
}

void NetworkHandlerKestrol::prRequestGetCommand(QString sUuid, QString sRequestUrl, QString sUser,
                                                QString sPassword, QString sDownloadFilename,
                                                QHash<QString, QString> hCookies, QString sCertificatePin)
{
    if (sRequestUrl.isEmpty()) {
        emit signal_log(QStringLiteral("Got new get-request with empty url. (%1)").arg(sUuid));
        return;
    }
    std::unique_ptr<Request> pRequest = prNewRequest(sUuid, sRequestUrl, sUser, sPassword, sCertificatePin);
    const QString sLogUrl = pRequest->sLogUrl;
    emit signal_log(LogText::requestLine(QLatin1String("Got new get-request: "), sLogUrl, sUuid));
    pRequest->sDownloadFilename = sDownloadFilename;

    QNetworkReply *pReply = pNetworkAccessManager->get(prCreateGetRequest(*pRequest, hCookies));
    // Downloads are streamed to disk; without a bound Qt reads ahead of the file without limit.
    if (!sUuid.isEmpty() && !sDownloadFilename.isEmpty())
        pReply->setReadBufferSize(4 * 1024 * 1024);
    prTrack(std::move(pRequest), pReply, iTransferTimeout);
    emit signal_log(LogText::requestLine(QLatin1String("Send get-request: "), sLogUrl, sUuid));
}

void NetworkHandlerKestrol::prRequestPutCommand(QString sUuid, QString sRequestUrl, QString sUser,
                                                QString sPassword, QString sDownloadFilename,
                                                QString sBodyText, QHash<QString, QString> hCookies,
                                                QString sCertificatePin)
{
    if (sRequestUrl.isEmpty()) {
        emit signal_log(QStringLiteral("Got new put-request with empty url. (%1)").arg(sUuid));
        return;
    }
    std::unique_ptr<Request> pRequest = prNewRequest(sUuid, sRequestUrl, sUser, sPassword, sCertificatePin);
    const QString sLogUrl = pRequest->sLogUrl;
    emit signal_log(QStringLiteral("Got new put-request: %1 (%2)").arg(sLogUrl, sUuid));
    pRequest->sDownloadFilename = sDownloadFilename;

    QNetworkRequest networkRequest = prCreateRequest(*pRequest, hCookies);
    prApplyCredentials(networkRequest, *pRequest, false);
    QNetworkReply *pReply = pNetworkAccessManager->put(networkRequest, sBodyText.toLatin1());
    prTrack(std::move(pRequest), pReply, iTransferTimeout);
    emit signal_log(QStringLiteral("Send put-request: %1 (%2)").arg(sLogUrl, sUuid));
}

void NetworkHandlerKestrol::prRequestPostCommand(QString sUuid, QString sRequestUrl, QString sUser,
                                                 QString sPassword, QString sUploadFilename,
                                                 QString sPostName, QString sBodyText,
                                                 QHash<QString, QString> hCookies, QString sCertificatePin)
{
    if (sRequestUrl.isEmpty()) {
        emit signal_log(QStringLiteral("Got new post-request with empty url (%1)").arg(sUuid));
        return;
    }
    std::unique_ptr<Request> pRequest = prNewRequest(sUuid, sRequestUrl, sUser, sPassword, sCertificatePin);
    const QString sLogUrl = pRequest->sLogUrl;
    emit signal_log(QStringLiteral("Got new post-request: %1 (%2)").arg(sLogUrl, sUuid));

    if (sUploadFilename.isEmpty()) {
        QNetworkRequest networkRequest = prCreateRequest(*pRequest, hCookies);
        prApplyCredentials(networkRequest, *pRequest, false);
        QNetworkReply *pReply = pNetworkAccessManager->post(networkRequest, sBodyText.toLatin1());
        prTrack(std::move(pRequest), pReply, iTransferTimeout);
        emit signal_log(QStringLiteral("Send post-request: %1 (%2)").arg(sLogUrl, sUuid));
        return;
    }

    const QString sUploadPath = QString(sUploadFilename).replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString sFileName = sUploadPath.split(QLatin1Char('/')).last();
    // Qt would send an unreadable file as an empty part, and a device may well accept that.
    auto *pFile = new QFile(sUploadPath);
    if (!pFile->open(QIODevice::ReadOnly)) {
        emit signal_log(
            QStringLiteral("Could not open upload file: %1, %2 (%3)")
                .arg(LogText::escaped(sUploadPath), LogText::scrubbed(pFile->errorString()), sUuid));
        delete pFile;
        prFailLater(sUuid, sRequestUrl);
        return;
    }

    auto *pMultiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    pFile->setParent(pMultiPart);
    if (!sBodyText.isEmpty()) {
        QHttpPart textPart;
        textPart.setHeader(QNetworkRequest::ContentDispositionHeader,
                           QStringLiteral("form-data; name=\"data\""));
        textPart.setBody(sBodyText.toLatin1());
        pMultiPart->append(textPart);
    }
    QHttpPart filePart;
    filePart.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
    filePart.setHeader(QNetworkRequest::ContentDispositionHeader,
                       QStringLiteral("form-data; name=\"%1\"; filename=\"%2\"").arg(sPostName, sFileName));
    filePart.setBodyDevice(pFile);
    pMultiPart->append(filePart);

    QNetworkRequest networkRequest = prCreateRequest(*pRequest, {});
    prApplyCredentials(networkRequest, *pRequest, false);
    QNetworkReply *pReply = pNetworkAccessManager->post(networkRequest, pMultiPart);
    // The reply reads the body until it is deleted itself, also when it outlives the handler.
    pMultiPart->setParent(pReply);
    prTrack(std::move(pRequest), pReply, iUploadTimeout);
    emit signal_log(QStringLiteral("Send post-request: %1 (%2)").arg(sLogUrl, sUuid));
}

void NetworkHandlerKestrol::renew()
{
    pNetworkAccessManager->clearAccessCache();
}

std::unique_ptr<NetworkHandlerKestrol::Request>
NetworkHandlerKestrol::prNewRequest(const QString &sUuid, const QString &sRequestUrl, const QString &sUser,
                                    const QString &sPassword, const QString &sCertificatePin)
{
    auto pRequest = std::make_unique<Request>();
    pRequest->sUuid = sUuid;
    pRequest->sUser = sUser;
    pRequest->sPassword = sPassword;
    pRequest->sCertificatePin = sCertificatePin;
    pRequest->originalUrl = QUrl(sRequestUrl, QUrl::TolerantMode);
    // User info in the URL would be Qt's answer to a challenge; only the request's own credentials may be.
    // It needs an '@'; removing it from a URL without one would only copy the URL.
    if (sRequestUrl.contains(QLatin1Char('@')))
        pRequest->originalUrl.setUserInfo(QString());
    pRequest->sLogUrl = LogText::url(sRequestUrl);
    pRequest->pCredentials = prCredentialSet(pRequest->originalUrl, sUser, sPassword, sCertificatePin);
    return pRequest;
}

QNetworkRequest NetworkHandlerKestrol::prCreateRequest(const Request &request,
                                                       const QHash<QString, QString> &hCookies) const
{
    QNetworkRequest networkRequest(request.originalUrl);
    if (!hCookies.isEmpty()) {
        QList<QNetworkCookie> lCookies;
        for (auto it = hCookies.constBegin(); it != hCookies.constEnd(); ++it)
            lCookies.append(QNetworkCookie(it.key().toLatin1(), it.value().toLatin1()));
        networkRequest.setHeader(QNetworkRequest::CookieHeader, QVariant::fromValue(lCookies));
    }
    // Devices speak HTTP/1.1; Qt 6 would otherwise negotiate HTTP/2 over TLS.
    networkRequest.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    // Every redirect comes to slotRedirected, which decides whatever the manager's policy.
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                QNetworkRequest::UserVerifiedRedirectPolicy);
    return networkRequest;
}

// A GET without cookies starts from its credential set's last one, with its own URL: building a request
// takes a dozen insertions into Qt's header and attribute tables, each a copy of the table.
QNetworkRequest NetworkHandlerKestrol::prCreateGetRequest(Request &request,
                                                          const QHash<QString, QString> &hCookies)
{
    CredentialSet &set = *request.pCredentials;
    QNetworkRequest networkRequest;
    if (hCookies.isEmpty() && set.getRequest) {
        networkRequest = *set.getRequest;
        networkRequest.setUrl(request.originalUrl);
    } else {
        networkRequest = prCreateRequest(request, hCookies);
        // Devices and hosts rely on Basic credentials up front until the device has challenged them.
        if (!set.bChallenged)
            networkRequest.setRawHeader("Authorization", set.baBasicAuthorization);
        networkRequest.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Client Application"));
        networkRequest.setRawHeader("Accept", "*/*");
    }
    prApplyCredentials(networkRequest, request, !set.bChallenged);
    if (hCookies.isEmpty() && !set.getRequest)
        set.getRequest = networkRequest;
    return networkRequest;
}

void NetworkHandlerKestrol::prTrack(std::unique_ptr<Request> pRequest, QNetworkReply *pReply, int iTimeout)
{
    pRequest->pReply = pReply;
    pRequest->iTimeout = iTimeout;
    pRequest->iLastActivity = clock.elapsed();
    Request *pTracked = pRequest.release();
    hRequests.insert(pReply, pTracked);
    connectReply(*pTracked);
    if (!pWatchdog->isActive())
        pWatchdog->start();
}

// Each connection hands its slot the request, so no slot has to find out which reply is calling: Qt's
// QObject::sender() walks every connection to the receiver, and one receiver follows every reply. Every
// connection costs the reply allocations and its end a search, so a reply gets only those it can use.
void NetworkHandlerKestrol::connectReply(Request &request)
{
    QNetworkReply *pReply = request.pReply;
    Request *pRequest = &request;
    connect(pReply, &QNetworkReply::readyRead, this, [this, pRequest] { slotReadyRead(*pRequest); });
    connect(pReply, &QNetworkReply::downloadProgress, this,
            [this, pRequest](qint64 iReceived, qint64 iTotal) {
                slotDownloadProgress(*pRequest, iReceived, iTotal);
            });
    // A GET sends no body.
    if (pReply->operation() != QNetworkAccessManager::GetOperation) {
        connect(pReply, &QNetworkReply::uploadProgress, this, [this, pRequest](qint64 iSent, qint64 iTotal) {
            slotUploadProgress(*pRequest, iSent, iTotal);
        });
    }
    // Plain HTTP has no handshake, and a redirect to another scheme is never followed.
    if (request.originalUrl.scheme() != QLatin1String("http")) {
        connect(pReply, &QNetworkReply::sslErrors, this,
                [this, pRequest](const QList<QSslError> &lSslError) { slotSslErrors(*pRequest, lSslError); });
        connect(pReply, &QNetworkReply::encrypted, this, [this, pRequest] { slotEncrypted(*pRequest); });
    }
    connect(pReply, &QNetworkReply::redirected, this,
            [this, pRequest](const QUrl &url) { slotRedirected(*pRequest, url); });
    connect(pReply, &QNetworkReply::finished, this, [this, pRequest] { slotFinished(*pRequest); });
}

// Ends a request that was never sent. The caller may hold a lock that the receiver takes, so the
// completion comes from the event loop.
void NetworkHandlerKestrol::prFailLater(const QString &sUuid, const QString &sRequestUrl)
{
    if (sUuid.isEmpty())
        return;
    const QString sUrl = LogText::url(sRequestUrl);
    QTimer::singleShot(0, this, [this, sUuid, sUrl]() {
        emit signal_log(QStringLiteral("Request finished with error: %1 (%2)").arg(sUrl, sUuid));
        emit signal_requestFinished(sUuid, QByteArray(), 103, QStringLiteral("Finished error"));
    });
}
