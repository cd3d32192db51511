#include "networkhandlerkestrol.h"

#include "logging.h"
#include "logtext.h"

#include <QPointer>
#include <QSaveFile>
#include <QStringBuilder>
#include <QTimer>

// The refusal of a probe is not the device's answer: the probe goes out again.
bool NetworkHandlerKestrol::isRefusedProbe(const Request &request) const
{
    return request.bProbe &&
           (request.bChallenged ||
            request.pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 401);
}

void NetworkHandlerKestrol::slotReadyRead(Request &request)
{
    // A reply without an identifier is not followed: its data stays in the reply.
    if (request.sUuid.isEmpty())
        return;
    request.iLastActivity = clock.elapsed();
    if (isRefusedProbe(request)) {
        request.pReply->readAll();
        return;
    }
    if (!prStoreData(request))
        prEnd(request, 103, QString());
}

void NetworkHandlerKestrol::slotDownloadProgress(Request &request, qint64 iBytesReceived, qint64 iBytesTotal)
{
    request.iLastActivity = clock.elapsed();
    // A body without a length gets its total only with its last byte; a lone 100 would tell nothing.
    if (!request.pReply->header(QNetworkRequest::ContentLengthHeader).isValid())
        iBytesTotal = -1;
    prReportProgress(request, QLatin1String("Download progress: "), iBytesReceived, iBytesTotal);
}

void NetworkHandlerKestrol::slotUploadProgress(Request &request, qint64 iBytesSent, qint64 iBytesTotal)
{
    request.iLastActivity = clock.elapsed();
    prReportProgress(request, QLatin1String("Upload progress: "), iBytesSent, iBytesTotal);
}

// "<sText><URL> -> <done> / <total> (<id>)"
void NetworkHandlerKestrol::prReportProgress(Request &request, QLatin1String sText, qint64 iBytesDone,
                                             qint64 iBytesTotal)
{
    if (request.sUuid.isEmpty() || isRefusedProbe(request))
        return;
    // Qt reports -1 for a body without a length and 0 of 0 for an empty one: no percentage exists.
    if (iBytesTotal <= 0) {
        qCDebug(lcKestrolNetwork) << request.sUuid << "progress" << iBytesDone << "bytes of an unknown total";
        return;
    }
    const double dFraction = static_cast<double>(iBytesDone) / static_cast<double>(iBytesTotal);
    emit signal_progress(request.sUuid, qBound(0, static_cast<int>(dFraction * 100), 100));
    emit signal_log(sText % request.sLogUrl % QLatin1String(" -> ") % prDataSize(iBytesDone) %
                    QLatin1String(" / ") % prDataSize(iBytesTotal) % QLatin1String(" (") % request.sUuid %
                    QLatin1Char(')'));
}

QString NetworkHandlerKestrol::prDataSize(qint64 iBytes)
{
    const auto it = hDataSizes.constFind(iBytes);
    if (it != hDataSizes.constEnd())
        return *it;
    // A large transfer reports ever new counts; the table stays small.
    if (hDataSizes.size() >= 64)
        hDataSizes.clear();
    return *hDataSizes.insert(iBytes, locale.formattedDataSize(iBytes, 2, QLocale::DataSizeIecFormat));
}

void NetworkHandlerKestrol::slotFinished(Request &request)
{
    QNetworkReply *pReply = request.pReply;
    // A refused probe goes out again with Qt answering, whether or not Qt asked the handler: Qt asks only
    // when the connection's authenticator holds no credentials, so of probes challenged together it asks for
    // at most one (and not always before the others end), and on a connection reconnected after a POST of
    // the set had answered a challenge it asks for none.
    if (request.bProbe && request.iEndCode == 0 &&
        pReply->error() == QNetworkReply::AuthenticationRequiredError) {
        request.pCredentials->markChallenged();
        prResendProbe(request);
        return;
    }
    if (request.sUuid.isEmpty()) {
        clearReply(request);
        return;
    }
    const QString sUuid = request.sUuid;
    const QString sUrl = request.sLogUrl;
    int iError = prResultCode(request);
    QByteArray baResult;
    if (iError == 0) {
        if (!prStoreData(request) || !isBodyComplete(request))
            iError = 103;
        else if (request.sDownloadFilename.isEmpty())
            baResult = request.baData;
        else if (!prCommitDownload(request))
            iError = 103;
    }
    // Gone before the receiver runs: it may send the identifier's next request from its slot.
    clearReply(request);

    if (iError == 0) {
        emit signal_log(LogText::requestLine(QLatin1String("Request finished ok: "), sUrl, sUuid));
        emit signal_requestFinished(sUuid, baResult, 0, QStringLiteral("Finished ok"));
    } else {
        emit signal_log(LogText::requestLine(QLatin1String("Request finished with error: "), sUrl, sUuid));
        emit signal_requestFinished(sUuid, QByteArray(), iError, QStringLiteral("Finished error"));
    }
}

int NetworkHandlerKestrol::prResultCode(Request &request)
{
    QNetworkReply *pReply = request.pReply;
    const QNetworkReply::NetworkError error = pReply->error();
    if (error != QNetworkReply::NoError) {
        emit signal_log(QStringLiteral("Error: %1 / %2 (%3)")
                            .arg(request.sLogUrl, LogText::scrubbed(pReply->errorString()), request.sUuid));
    }
    if (request.iEndCode != 0) {
        if (!request.sEndLine.isEmpty())
            emit signal_log(request.sEndLine);
        return request.iEndCode;
    }
    switch (error) {
    case QNetworkReply::NoError: {
        // A redirect that was not followed carries nothing of what was asked for; reporting it as success
        // would tell the host that a command ran when it never reached the device.
        const int iStatus = pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (iStatus >= 300 && iStatus < 400 && iStatus != 304) {
            emit signal_log(QStringLiteral("Redirect not followed: %1 -> %2 (%3)")
                                .arg(request.sLogUrl,
                                     LogText::url(pReply->header(QNetworkRequest::LocationHeader).toUrl()),
                                     request.sUuid));
            return 103;
        }
        return 0;
    }
    case QNetworkReply::AuthenticationRequiredError:
        return 101;
    default:
        return 103;
    }
}

// Ends a request from the handler's side; the reply finishes at once, which answers and clears it, so the
// caller must not touch the request afterwards.
void NetworkHandlerKestrol::prEnd(Request &request, int iCode, const QString &sLine)
{
    request.iEndCode = iCode;
    request.sEndLine = sLine;
    request.pReply->abort();
}

void NetworkHandlerKestrol::clearReply(Request &request)
{
    QNetworkReply *pReply = request.pReply;
    hRequests.remove(pReply);
    disconnect(pReply, nullptr, this, nullptr);
    // A multipart body is the reply's child and goes with it.
    pReply->deleteLater();
    delete &request;
    if (hRequests.isEmpty())
        pWatchdog->stop();
}

void NetworkHandlerKestrol::slotWatchdog()
{
    const qint64 iNow = clock.elapsed();
    QList<QPointer<QNetworkReply>> lSilent;
    for (const Request *pRequest : qAsConst(hRequests)) {
        if (iNow - pRequest->iLastActivity > pRequest->iTimeout)
            lSilent.append(pRequest->pReply);
    }
    // Each abort answers a request, and the receiver may act on the handler.
    for (const QPointer<QNetworkReply> &pReply : qAsConst(lSilent)) {
        if (Request *pRequest = hRequests.value(pReply.data()))
            prEnd(*pRequest, 103,
                  QStringLiteral("Request timed out: %1 (%2)").arg(pRequest->sLogUrl, pRequest->sUuid));
    }
}
