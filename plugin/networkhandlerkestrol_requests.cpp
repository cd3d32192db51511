#include "networkhandlerkestrol.h"

#include "logging.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkRequest>
#include <QTimer>

namespace {

int timeoutFromEnvironment(const char *pcName, int iDefault)
{
    bool bOk = false;
    const int iValue = qEnvironmentVariableIntValue(pcName, &bOk);
    return bOk && iValue > 0 ? iValue : iDefault;
}

QString originOf(const QUrl &url)
{
    const QString sScheme = url.scheme().toLower();
    const int iPort = url.port(sScheme == QLatin1String("https") ? 443 : 80);
    return QStringLiteral("%1://%2:%3").arg(sScheme, url.host(), QString::number(iPort));
}

QByteArray credentialDigest(const QString &sUser, const QString &sPassword)
{
    return QCryptographicHash::hash((sUser + QLatin1Char('\n') + sPassword).toUtf8(),
                                    QCryptographicHash::Sha256);
}

} // namespace

NetworkHandlerKestrol::NetworkHandlerKestrol(QNetworkAccessManager *pManager, QObject *parent)
    : QObject(parent), pNetworkAccessManager(pManager),
      // Inactivity limits; tests lower them through the environment.
      iTransferTimeout(timeoutFromEnvironment("KESTROL_TRANSFER_TIMEOUT_MS", 60 * 1000)),
      // A device may check a whole image before it answers an upload.
      iUploadTimeout(timeoutFromEnvironment("KESTROL_UPLOAD_TIMEOUT_MS", 600 * 1000))
{
    connect(pNetworkAccessManager, SIGNAL(authenticationRequired(QNetworkReply *, QAuthenticator *)), this,
            SLOT(slotAuthenticationRequired(QNetworkReply *, QAuthenticator *)));
}

// Replies still in flight stay with the access manager; their multipart bodies are not deleted because
// the manager may still be reading them.
NetworkHandlerKestrol::~NetworkHandlerKestrol() = default;

void NetworkHandlerKestrol::prRequestGetCommand(QString sUuid, QString sRequestUrl, QString sUser,
                                                QString sPassword, QString sDownloadFilename,
                                                QHash<QString, QString> hCookies, QString sCertificatePin)
{
    Q_UNUSED(sCertificatePin)
    if (sRequestUrl.isEmpty()) {
        emit signal_log(QStringLiteral("Got new get-request with empty url. (%1)").arg(sUuid));
        return;
    }
    emit signal_log(QStringLiteral("Got new get-request: %1 (%2)").arg(sRequestUrl, sUuid));

    QNetworkRequest request = prCreateRequest(sRequestUrl, hCookies, iTransferTimeout);
    // Once an origin has challenged, Qt's authenticator answers for it (Digest included); a raw Basic
    // header would override the header Qt computes and every later request would be refused.
    if (!prPrepareAuthentication(request, sUser, sPassword))
        request.setRawHeader("Authorization",
                             "Basic " + (sUser + QLatin1Char(':') + sPassword).toLocal8Bit().toBase64());
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Client Application"));
    request.setRawHeader("Accept", "*/*");

    QNetworkReply *pReply = pNetworkAccessManager->get(request);
    prSetReplyProperties(pReply, sUuid, sUser, sPassword, sDownloadFilename);
    connectReply(pReply);
    emit signal_log(QStringLiteral("Send get-request: %1 (%2)").arg(sRequestUrl, sUuid));
}

void NetworkHandlerKestrol::prRequestPutCommand(QString sUuid, QString sRequestUrl, QString sUser,
                                                QString sPassword, QString sDownloadFilename,
                                                QString sBodyText, QHash<QString, QString> hCookies,
                                                QString sCertificatePin)
{
    Q_UNUSED(sCertificatePin)
    if (sRequestUrl.isEmpty()) {
        emit signal_log(QStringLiteral("Got new put-request with empty url. (%1)").arg(sUuid));
        return;
    }
    emit signal_log(QStringLiteral("Got new put-request: %1 (%2)").arg(sRequestUrl, sUuid));

    QNetworkRequest request = prCreateRequest(sRequestUrl, hCookies, iTransferTimeout);
    prPrepareAuthentication(request, sUser, sPassword);
    QNetworkReply *pReply = pNetworkAccessManager->put(request, sBodyText.toLatin1());
    prSetReplyProperties(pReply, sUuid, sUser, sPassword, sDownloadFilename);
    connectReply(pReply);
    emit signal_log(QStringLiteral("Send put-request: %1 (%2)").arg(sRequestUrl, sUuid));
}

void NetworkHandlerKestrol::prRequestPostCommand(QString sUuid, QString sRequestUrl, QString sUser,
                                                 QString sPassword, QString sUploadFilename,
                                                 QString sPostName, QString sBodyText,
                                                 QHash<QString, QString> hCookies, QString sCertificatePin)
{
    Q_UNUSED(sCertificatePin)
    if (sRequestUrl.isEmpty()) {
        emit signal_log(QStringLiteral("Got new post-request with empty url (%1)").arg(sUuid));
        return;
    }
    emit signal_log(QStringLiteral("Got new post-request: %1 (%2)").arg(sRequestUrl, sUuid));

    QNetworkReply *pReply = nullptr;
    if (sUploadFilename.isEmpty()) {
        QNetworkRequest request = prCreateRequest(sRequestUrl, hCookies, iTransferTimeout);
        prPrepareAuthentication(request, sUser, sPassword);
        pReply = pNetworkAccessManager->post(request, sBodyText.toLatin1());
    } else {
        const QString sUploadPath = QString(sUploadFilename).replace(QLatin1Char('\\'), QLatin1Char('/'));
        const QString sFileName = sUploadPath.split(QLatin1Char('/')).last();

        // Qt would send an unreadable file as an empty part, and a device may well accept that.
        auto *pFile = new QFile(sUploadPath);
        if (!pFile->open(QIODevice::ReadOnly)) {
            emit signal_log(QStringLiteral("Could not open upload file: %1, %2 (%3)")
                                .arg(sUploadPath, pFile->errorString(), sUuid));
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
        filePart.setHeader(
            QNetworkRequest::ContentDispositionHeader,
            QStringLiteral("form-data; name=\"%1\"; filename=\"%2\"").arg(sPostName, sFileName));
        filePart.setBodyDevice(pFile);
        pMultiPart->append(filePart);

        QNetworkRequest request = prCreateRequest(sRequestUrl, {}, iUploadTimeout);
        prPrepareAuthentication(request, sUser, sPassword);
        pReply = pNetworkAccessManager->post(request, pMultiPart);
        // A reply without an identifier is never cleared by identifier, so its body goes with the reply.
        if (sUuid.isEmpty())
            pMultiPart->setParent(pReply);
        else
            mapMultiParts.insert(sUuid, pMultiPart);
    }
    // Credentials travel with a POST too: a device may protect reboots, resets and uploads.
    prSetReplyProperties(pReply, sUuid, sUser, sPassword, QString());
    connectReply(pReply);
    emit signal_log(QStringLiteral("Send post-request: %1 (%2)").arg(sRequestUrl, sUuid));
}

void NetworkHandlerKestrol::renew()
{
    pNetworkAccessManager->clearAccessCache();
}

void NetworkHandlerKestrol::connectReply(QNetworkReply *pReply)
{
    connect(pReply, SIGNAL(readyRead()), this, SLOT(slotReadyRead()));
    connect(pReply, SIGNAL(error(QNetworkReply::NetworkError)), this,
            SLOT(slotError(QNetworkReply::NetworkError)));
    connect(pReply, SIGNAL(sslErrors(QList<QSslError>)), this, SLOT(slotSslErrors(QList<QSslError>)));
    connect(pReply, SIGNAL(downloadProgress(qint64, qint64)), this,
            SLOT(slotDownloadProgress(qint64, qint64)));
    connect(pReply, SIGNAL(uploadProgress(qint64, qint64)), this, SLOT(slotUploadProgress(qint64, qint64)));
    connect(pReply, SIGNAL(finished()), this, SLOT(slotFinished()));
    connect(pReply, SIGNAL(redirected(QUrl)), this, SLOT(slotRedirected(QUrl)));
}

QNetworkRequest NetworkHandlerKestrol::prCreateRequest(const QString &sRequestUrl,
                                                       const QHash<QString, QString> &hCookies,
                                                       int iTimeout) const
{
    QNetworkRequest request(QUrl(sRequestUrl, QUrl::TolerantMode));
    if (!hCookies.isEmpty()) {
        QList<QNetworkCookie> lCookies;
        for (auto it = hCookies.constBegin(); it != hCookies.constEnd(); ++it)
            lCookies.append(QNetworkCookie(it.key().toLatin1(), it.value().toLatin1()));
        request.setHeader(QNetworkRequest::CookieHeader, QVariant::fromValue(lCookies));
    }
    request.setTransferTimeout(iTimeout);
    return request;
}

// Whether the request's origin has challenged before, so that Qt's authenticator computes the
// Authorization header. When the credentials differ from those the manager's connections hold for the
// origin (changed device credentials), they travel once as user info of the URL: Qt then hands them to
// every connection to the origin, where its cache would otherwise answer the next challenge with the old
// ones and give up without asking.
bool NetworkHandlerKestrol::prPrepareAuthentication(QNetworkRequest &request, const QString &sUser,
                                                    const QString &sPassword)
{
    const auto it = hChallengedOrigins.find(originOf(request.url()));
    if (it == hChallengedOrigins.end())
        return false;
    const QByteArray baDigest = credentialDigest(sUser, sPassword);
    if (*it != baDigest) {
        *it = baDigest;
        QUrl url = request.url();
        url.setUserName(sUser, QUrl::DecodedMode);
        url.setPassword(sPassword, QUrl::DecodedMode);
        request.setUrl(url);
        qCDebug(lcKestrolNetwork) << "credentials changed for" << originOf(url);
    }
    return true;
}

void NetworkHandlerKestrol::prRememberChallenge(const QUrl &url, const QString &sUser,
                                                const QString &sPassword)
{
    hChallengedOrigins.insert(originOf(url), credentialDigest(sUser, sPassword));
}

void NetworkHandlerKestrol::prSetReplyProperties(QNetworkReply *pReply, const QString &sUuid,
                                                 const QString &sUser, const QString &sPassword,
                                                 const QString &sDownloadFilename)
{
    pReply->setProperty(cPropertyId, sUuid);
    pReply->setProperty(cPropertyUser, sUser);
    pReply->setProperty(cPropertyPassword, sPassword);
    pReply->setProperty(cPropertyDownloadFilename, sDownloadFilename);
    // Downloads are streamed to disk; without a bound Qt reads ahead of the file without limit.
    if (!sUuid.isEmpty() && !sDownloadFilename.isEmpty())
        pReply->setReadBufferSize(4 * 1024 * 1024);
}

// Ends a request that was never sent. The caller may hold a lock that the receiver takes, so the
// completion comes from the event loop.
void NetworkHandlerKestrol::prFailLater(const QString &sUuid, const QString &sRequestUrl)
{
    if (sUuid.isEmpty())
        return;
    const QString sUrl = QUrl(sRequestUrl, QUrl::TolerantMode).toString();
    QTimer::singleShot(0, this, [this, sUuid, sUrl]() {
        emit signal_log(QStringLiteral("Request finished with error: %1 (%2)").arg(sUrl, sUuid));
        emit signal_requestFinished(sUuid, QByteArray(), 103, QStringLiteral("Finished error"));
    });
}
