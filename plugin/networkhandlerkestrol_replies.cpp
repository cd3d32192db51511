#include "networkhandlerkestrol.h"

#include "logging.h"

#include <QHttpMultiPart>
#include <QLocale>
#include <QSaveFile>
#include <QStringList>

namespace {

QString replyId(const QObject *pReply)
{
    return pReply->property("QNETWORKREPLY_PROPERTY_ID").toString();
}

// Changed credentials may travel in the URL; they stay out of the log.
QString logUrl(const QNetworkReply *pReply)
{
    return pReply->url().toString(QUrl::RemoveUserInfo);
}

// The reply whose signal is being handled, when it is one of ours: a reply without an identifier is not
// followed.
QNetworkReply *identifiedReply(QObject *pSender, QString &sUuid)
{
    auto *pReply = qobject_cast<QNetworkReply *>(pSender);
    sUuid = pReply ? replyId(pReply) : QString();
    return sUuid.isEmpty() ? nullptr : pReply;
}

QString dataSize(qint64 iBytes)
{
    return QLocale::system().formattedDataSize(iBytes, 2, QLocale::DataSizeIecFormat);
}

} // namespace

void NetworkHandlerKestrol::slotReadyRead()
{
    QString sUuid;
    QNetworkReply *pReply = identifiedReply(sender(), sUuid);
    if (!pReply)
        return;
    if (!prStoreData(pReply, sUuid)) {
        mapAbortCodes.insert(sUuid, 103);
        pReply->abort();
    }
}

void NetworkHandlerKestrol::slotDownloadProgress(qint64 iBytesSent, qint64 iBytesTotal)
{
    // A body without a length gets its total only with its last byte; a lone 100 would tell nothing.
    auto *pReply = qobject_cast<QNetworkReply *>(sender());
    if (pReply && !pReply->header(QNetworkRequest::ContentLengthHeader).isValid())
        iBytesTotal = -1;
    prReportProgress(QStringLiteral("Download progress: %1 -> %2 / %3 (%4)"), iBytesSent, iBytesTotal);
}

void NetworkHandlerKestrol::slotUploadProgress(qint64 iBytesSent, qint64 iBytesTotal)
{
    prReportProgress(QStringLiteral("Upload progress: %1 -> %2 / %3 (%4)"), iBytesSent, iBytesTotal);
}

void NetworkHandlerKestrol::prReportProgress(const QString &sText, qint64 iBytesSent, qint64 iBytesTotal)
{
    QString sUuid;
    QNetworkReply *pReply = identifiedReply(sender(), sUuid);
    if (!pReply)
        return;
    // Qt reports -1 for a body without a length and 0 of 0 for an empty one: no percentage exists.
    if (iBytesTotal <= 0) {
        qCDebug(lcKestrolNetwork) << sUuid << "progress" << iBytesSent << "bytes of an unknown total";
        return;
    }
    const double dFraction = static_cast<double>(iBytesSent) / static_cast<double>(iBytesTotal);
    emit signal_progress(sUuid, qBound(0, static_cast<int>(dFraction * 100), 100));
    emit signal_log(sText.arg(logUrl(pReply), dataSize(iBytesSent), dataSize(iBytesTotal), sUuid));
}

void NetworkHandlerKestrol::slotError(QNetworkReply::NetworkError error)
{
    QString sUuid;
    QNetworkReply *pReply = identifiedReply(sender(), sUuid);
    if (!pReply || error == QNetworkReply::NoError)
        return;
    emit signal_log(QStringLiteral("Error: %1 / %2 (%3)").arg(logUrl(pReply), pReply->errorString(), sUuid));
}

void NetworkHandlerKestrol::slotSslErrors(QList<QSslError> lSslError)
{
    QString sUuid;
    QNetworkReply *pReply = identifiedReply(sender(), sUuid);
    if (!pReply)
        return;
    QStringList lTexts;
    for (const QSslError &sslError : lSslError)
        lTexts.append(sslError.errorString());
    emit signal_log(QStringLiteral("Ignoring SSL errors: %1 / %2 (%3)")
                        .arg(logUrl(pReply), lTexts.join(QLatin1Char(',')), sUuid));
    pReply->ignoreSslErrors();
}

void NetworkHandlerKestrol::slotRedirected(QUrl url)
{
    auto *pReply = qobject_cast<QNetworkReply *>(sender());
    if (!pReply)
        return;
    emit signal_log(
        QStringLiteral("Redirected: %1 / %2 (%3)").arg(logUrl(pReply), url.toString(), replyId(pReply)));
}

void NetworkHandlerKestrol::slotFinished()
{
    auto *pReply = qobject_cast<QNetworkReply *>(sender());
    if (!pReply)
        return;
    const QString sUuid = replyId(pReply);
    if (sUuid.isEmpty()) {
        clearReply(pReply);
        return;
    }
    const QString sUrl = logUrl(pReply);
    const QString sDownloadFilename = pReply->property(cPropertyDownloadFilename).toString();

    int iError = prResultCode(pReply, sUuid);
    QByteArray baResult;
    if (iError == 0) {
        if (!prStoreData(pReply, sUuid))
            iError = 103;
        else if (sDownloadFilename.isEmpty())
            baResult = mapReplyData.value(sUuid);
        else if (!prCommitDownload(sUuid, sDownloadFilename))
            iError = 103;
    }

    if (iError == 0) {
        emit signal_log(QStringLiteral("Request finished ok: %1 (%2)").arg(sUrl, sUuid));
        emit signal_requestFinished(sUuid, baResult, 0, QStringLiteral("Finished ok"));
    } else {
        emit signal_log(QStringLiteral("Request finished with error: %1 (%2)").arg(sUrl, sUuid));
        emit signal_requestFinished(sUuid, QByteArray(), iError, QStringLiteral("Finished error"));
    }
    clearReply(pReply);
}

int NetworkHandlerKestrol::prResultCode(QNetworkReply *pReply, const QString &sUuid)
{
    switch (pReply->error()) {
    case QNetworkReply::NoError: {
        // A redirect that the access manager's policy did not follow carries nothing of what was asked for;
        // reporting it as success would tell the host that a command ran when it never reached the device.
        const int iStatus = pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (iStatus >= 300 && iStatus < 400 && iStatus != 304) {
            emit signal_log(QStringLiteral("Redirect not followed: %1 -> %2 (%3)")
                                .arg(logUrl(pReply),
                                     pReply->header(QNetworkRequest::LocationHeader)
                                         .toUrl()
                                         .toString(QUrl::RemoveUserInfo),
                                     sUuid));
            return 103;
        }
        return 0;
    }
    case QNetworkReply::AuthenticationRequiredError:
        return 101;
    case QNetworkReply::OperationCanceledError:
        // Qt ends its own transfer time-out as a cancellation too.
        if (!mapAbortCodes.contains(sUuid))
            emit signal_log(QStringLiteral("Request timed out: %1 (%2)").arg(logUrl(pReply), sUuid));
        return mapAbortCodes.value(sUuid, 103);
    default:
        return 103;
    }
}

void NetworkHandlerKestrol::clearReply(QNetworkReply *pReply)
{
    const QString sUuid = replyId(pReply);
    if (!sUuid.isEmpty()) {
        mapReplyData.remove(sUuid);
        // The reply may still refer to its body until it is deleted itself.
        if (QHttpMultiPart *pMultiPart = mapMultiParts.take(sUuid))
            pMultiPart->deleteLater();
        mapAuthenticationAttempts.remove(sUuid);
        delete mapDownloadFiles.take(sUuid);
        mapAbortCodes.remove(sUuid);
    }
    pReply->deleteLater();
}

void NetworkHandlerKestrol::slotAuthenticationRequired(QNetworkReply *pReply, QAuthenticator *pAuthenticator)
{
    if (!pReply || !pAuthenticator)
        return;
    const QString sUuid = replyId(pReply);
    const QString sUser = pReply->property(cPropertyUser).toString();
    const QString sPassword = pReply->property(cPropertyPassword).toString();
    // Also reached by replies of a host sharing the access manager; those carry no identifier.
    if (sUuid.isEmpty() || sUser.isEmpty())
        return;
    if (getAuthenticationAttemptCount(sUuid) > 1) {
        mapAbortCodes.insert(sUuid, 101);
        pReply->abort();
        return;
    }
    addAuthenticationAttempt(sUuid);
    pAuthenticator->setUser(sUser);
    pAuthenticator->setPassword(sPassword);
    prRememberChallenge(pReply->url(), sUser, sPassword);
    emit signal_log(QStringLiteral("Send login (slotAuthenticationRequired): %1 / %2 (%3)")
                        .arg(sUser, QStringLiteral("******"), sUuid));
}

int NetworkHandlerKestrol::getAuthenticationAttemptCount(QString sUuid)
{
    return mapAuthenticationAttempts.value(sUuid, 0);
}

void NetworkHandlerKestrol::addAuthenticationAttempt(QString sUuid)
{
    ++mapAuthenticationAttempts[sUuid];
}
