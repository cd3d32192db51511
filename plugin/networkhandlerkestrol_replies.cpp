#include "networkhandlerkestrol.h"

// Placeholder until the transport lands.
void NetworkHandlerKestrol::slotAuthenticationRequired(QNetworkReply *, QAuthenticator *) {}
void NetworkHandlerKestrol::slotReadyRead() {}
void NetworkHandlerKestrol::slotError(QNetworkReply::NetworkError) {}
void NetworkHandlerKestrol::slotSslErrors(QList<QSslError>) {}
void NetworkHandlerKestrol::slotDownloadProgress(qint64, qint64) {}
void NetworkHandlerKestrol::slotUploadProgress(qint64, qint64) {}
void NetworkHandlerKestrol::slotFinished() {}
void NetworkHandlerKestrol::slotRedirected(QUrl) {}
void NetworkHandlerKestrol::clearReply(QNetworkReply *) {}
int NetworkHandlerKestrol::getAuthenticationAttemptCount(QString)
{
    return 0;
}
void NetworkHandlerKestrol::addAuthenticationAttempt(QString) {}
