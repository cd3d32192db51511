// What the handler trusts: a device's certificate, and where a device may send a request on to.
#include "networkhandlerkestrol.h"

#include "logtext.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QStringList>

namespace {

bool isSameOrigin(const QUrl &url, const QUrl &other)
{
    const QString sScheme = url.scheme().toLower();
    const int iDefaultPort = sScheme == QLatin1String("https") ? 443 : 80;
    return sScheme == other.scheme().toLower() &&
           url.host().compare(other.host(), Qt::CaseInsensitive) == 0 &&
           url.port(iDefaultPort) == other.port(iDefaultPort);
}

QByteArray sha256Hex(const QByteArray &baData)
{
    return QCryptographicHash::hash(baData, QCryptographicHash::Sha256).toHex();
}

} // namespace

// The pin names the certificate (DER) or its public key (SubjectPublicKeyInfo DER), so that a renewed
// certificate for the same key still matches.
bool NetworkHandlerKestrol::isPinMatched(const Request &request, const QSslCertificate &certificate) const
{
    if (certificate.isNull())
        return false;
    const QByteArray baPin = request.sCertificatePin.toLatin1();
    return sha256Hex(certificate.toDer()) == baPin || sha256Hex(certificate.publicKey().toDer()) == baPin;
}

void NetworkHandlerKestrol::slotSslErrors(Request &request, const QList<QSslError> &lSslError)
{
    request.iLastActivity = clock.elapsed();
    // Not ignored, the handshake fails: a reply the handler does not follow gets no exception.
    if (request.sUuid.isEmpty())
        return;
    if (!request.sCertificatePin.isEmpty() &&
        !isPinMatched(request, request.pReply->sslConfiguration().peerCertificate())) {
        // The errors stay, so the handshake fails and nothing of the request is sent.
        request.iEndCode = 103;
        request.sEndLine =
            QStringLiteral("Certificate mismatch: %1 (%2)").arg(request.sLogUrl, request.sUuid);
        hCredentialSets.remove(request.pCredentials->key);
        return;
    }
    QStringList lTexts;
    for (const QSslError &sslError : lSslError)
        lTexts.append(sslError.errorString());
    emit signal_log(
        QStringLiteral("Ignoring SSL errors: %1 / %2 (%3)")
            .arg(request.sLogUrl, LogText::scrubbed(lTexts.join(QLatin1Char(','))), request.sUuid));
    request.pReply->ignoreSslErrors();
}

// Qt emits this when a new connection's handshake is done and before any of the request goes out; a
// certificate without errors is checked against the pin here. A set whose connection showed another
// certificate is dropped, so that its next request opens a connection of its own.
void NetworkHandlerKestrol::slotEncrypted(Request &request)
{
    request.iLastActivity = clock.elapsed();
    if (request.sCertificatePin.isEmpty() ||
        isPinMatched(request, request.pReply->sslConfiguration().peerCertificate()))
        return;
    hCredentialSets.remove(request.pCredentials->key);
    prEnd(request, 103, QStringLiteral("Certificate mismatch: %1 (%2)").arg(request.sLogUrl, request.sUuid));
}

// A redirect to another scheme, host or port is never followed: Qt would carry the request's headers, the
// Basic credentials among them, to the other server. Within the device's origin the manager's policy
// decides, read as follows. Manual (Qt 5's default) and NoLessSafe (Qt 6's default, which cannot be told
// from one a host chose) do not follow, so that a host that chose nothing gets the same answer from either
// Qt; SameOrigin follows, and so does UserVerified, whose host never sees the handler's replies: the
// origin check is the verification.
bool NetworkHandlerKestrol::isRedirectFollowed(const Request &request, const QUrl &target) const
{
    if (!isSameOrigin(request.originalUrl, target))
        return false;
    const QNetworkRequest::RedirectPolicy policy = pNetworkAccessManager->redirectPolicy();
    return policy == QNetworkRequest::SameOriginRedirectPolicy ||
           policy == QNetworkRequest::UserVerifiedRedirectPolicy;
}

void NetworkHandlerKestrol::slotRedirected(Request &request, const QUrl &url)
{
    request.iLastActivity = clock.elapsed();
    const QUrl target = request.pReply->url().resolved(url);
    const QString sTarget = LogText::url(target);
    if (!isRedirectFollowed(request, target)) {
        prEnd(request, 103,
              QStringLiteral("Redirect not followed: %1 -> %2 (%3)")
                  .arg(request.sLogUrl, sTarget, request.sUuid));
        return;
    }
    emit signal_log(QStringLiteral("Redirected: %1 / %2 (%3)").arg(request.sLogUrl, sTarget, request.sUuid));
    request.sLogUrl = sTarget;
    emit request.pReply->redirectAllowed();
}
