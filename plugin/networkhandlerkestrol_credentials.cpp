// Whose credentials answer a device's challenge, and which connections a request may share.
//
// Qt keeps one authenticator per connection and answers later challenges on that connection from it, and it
// keeps a credential cache per scheme, host, port and realm that it fills challenges on new connections from
// (it asks the host only when neither has an answer). Two credential sets for one origin (devices behind one
// address, a device registered twice, changed credentials) would answer with each other's password. So:
// - each credential set gets connections of its own: Qt's connection pool is keyed by scheme, host, port,
//   proxy and the request's peer verify name, and each set gets a distinct peer verify name;
// - a request's own credentials travel as user info of its URL, which Qt takes before its cache (and never
//   sends: it hands them to the connection's authenticator). Without both a user and a password there is no
//   user info, and Qt is told to answer no challenge at all (AuthenticationReuseAttribute Manual; with it, Qt
//   also ignores what the handler would supply, so such a request is refused when challenged).
// A GET of a set that was never challenged carries Basic credentials up front and is sent with Qt answering
// nothing; when the device challenges it, the set is known as challenged and the GET goes out once more, now
// with Qt's authenticator answering. So the handler learns which sets Qt answers for, and the first challenge
// of a set still comes to slotAuthenticationRequired.
#include "networkhandlerkestrol.h"

#include "logging.h"
#include "logtext.h"

#include <QAuthenticator>
#include <QNetworkAccessManager>
#include <QSaveFile>
#include <QStringBuilder>

namespace {

QByteArray basicAuthorization(const QString &sUser, const QString &sPassword)
{
    return "Basic " + (sUser + QLatin1Char(':') + sPassword).toLocal8Bit().toBase64();
}

// The first set of an origin keeps the empty name, so that the common case of one account per device is
// untouched. The next ones get names that TLS treats as the host itself: the host (what Qt uses for an empty
// name), then the host in other letter cases (Qt lowercases the name for SNI and compares certificate names
// without regard to case). Past those, a name that is no host name at all: no SNI is sent, as for an IP
// address, and the certificate's names do not match, which changes nothing while certificate errors are
// ignored, and with a pin the pin decides.
QString peerVerifyName(const QString &sHost, int iIndex)
{
    if (iIndex == 0)
        return QString();
    if (iIndex == 1)
        return sHost;
    QList<int> lLetters;
    for (int i = 0; i < sHost.size(); ++i) {
        if (sHost.at(i).isLetter())
            lLetters.append(i);
    }
    const quint64 iVariant = quint64(iIndex - 1);
    if (lLetters.size() >= 63 || iVariant < (quint64(1) << lLetters.size())) {
        QString sName = sHost;
        for (int iBit = 0; iBit < lLetters.size() && iBit < 63; ++iBit) {
            if (iVariant & (quint64(1) << iBit))
                sName[lLetters.at(iBit)] = sName.at(lLetters.at(iBit)).toUpper();
        }
        return sName;
    }
    return sHost + QLatin1Char(' ') + QString::number(iIndex);
}

} // namespace

std::shared_ptr<NetworkHandlerKestrol::CredentialSet>
NetworkHandlerKestrol::prCredentialSet(const QUrl &url, const QString &sUser, const QString &sPassword,
                                       const QString &sCertificatePin)
{
    CredentialKey key;
    key.sScheme = url.scheme().toLower();
    key.sHost = url.host().toLower();
    key.iPort = url.port(key.sScheme == QLatin1String("https") ? 443 : 80);
    key.sUser = sUser;
    key.sPassword = sPassword;
    key.sCertificatePin = sCertificatePin;
    std::shared_ptr<CredentialSet> &pSet = hCredentialSets[key];
    if (!pSet) {
        pSet = std::make_shared<CredentialSet>();
        const QString sOrigin =
            key.sScheme % QLatin1String("://") % key.sHost % QLatin1Char(':') % QString::number(key.iPort);
        // Indices are never reused: a connection of a set that is gone may still be in Qt's pool.
        pSet->sPeerVerifyName = peerVerifyName(url.host(), hOriginIndices[sOrigin]++);
        pSet->baBasicAuthorization = basicAuthorization(sUser, sPassword);
        pSet->key = std::move(key);
    }
    return pSet;
}

// A request that starts from its set's last GET has the set's name and reuse already; setting them again
// would copy Qt's tables.
void NetworkHandlerKestrol::prApplyCredentials(QNetworkRequest &networkRequest, Request &request,
                                               bool bRawBasic)
{
    const QString &sPeerVerifyName = request.pCredentials->sPeerVerifyName;
    if (networkRequest.peerVerifyName() != sPeerVerifyName)
        networkRequest.setPeerVerifyName(sPeerVerifyName);
    const bool bUserInfo = !request.sUser.isEmpty() && !request.sPassword.isEmpty();
    request.bProbe = bRawBasic && bUserInfo;
    const QVariant reuse(bRawBasic || !bUserInfo ? QNetworkRequest::Manual : QNetworkRequest::Automatic);
    if (networkRequest.attribute(QNetworkRequest::AuthenticationReuseAttribute) != reuse)
        networkRequest.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, reuse);
    if (bRawBasic || !bUserInfo) {
        if (request.bProbe)
            request.probeRequest = networkRequest;
        return;
    }
    QUrl url = networkRequest.url();
    url.setUserName(request.sUser, QUrl::DecodedMode);
    url.setPassword(request.sPassword, QUrl::DecodedMode);
    networkRequest.setUrl(url);
}

// A probe that the device challenged goes out again, now without the Basic header and with Qt answering.
void NetworkHandlerKestrol::prResendProbe(Request &request)
{
    qCDebug(lcKestrolNetwork) << request.sUuid << "challenged; sent again with the device's authentication";
    QNetworkRequest networkRequest = *request.probeRequest;
    networkRequest.setRawHeader("Authorization", QByteArray());
    prApplyCredentials(networkRequest, request, false);
    request.probeRequest.reset();

    QNetworkReply *pOld = request.pReply;
    hRequests.remove(pOld);
    disconnect(pOld, nullptr, this, nullptr);
    pOld->deleteLater();

    request.pReply = pNetworkAccessManager->get(networkRequest);
    if (!request.sDownloadFilename.isEmpty())
        request.pReply->setReadBufferSize(4 * 1024 * 1024);
    request.bChallenged = false;
    request.baData.clear();
    request.iReceived = 0;
    request.pDownloadFile.reset();
    request.iLastActivity = clock.elapsed();
    hRequests.insert(request.pReply, &request);
    connectReply(request);
}

void NetworkHandlerKestrol::slotAuthenticationRequired(QNetworkReply *pReply, QAuthenticator *pAuthenticator)
{
    // Also reached by replies of a host sharing the access manager; those are not in the table.
    Request *pRequest = hRequests.value(pReply);
    if (!pRequest || !pAuthenticator || pRequest->sUuid.isEmpty() || pRequest->sUser.isEmpty() ||
        pRequest->sPassword.isEmpty())
        return;
    Request &request = *pRequest;
    if (request.iAuthenticationAttempts > 1) {
        prEnd(request, 101, QString());
        return;
    }
    ++request.iAuthenticationAttempts;
    if (request.bProbe) {
        // Qt gives this reply up; the request goes out again with the credentials in Qt's hands.
        request.bChallenged = true;
        request.pCredentials->markChallenged();
    } else {
        pAuthenticator->setUser(request.sUser);
        pAuthenticator->setPassword(request.sPassword);
    }
    emit signal_log(QStringLiteral("Send login (slotAuthenticationRequired): %1 / ****** (%2)")
                        .arg(LogText::escaped(request.sUser), request.sUuid));
}
