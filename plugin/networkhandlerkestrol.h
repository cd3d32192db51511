#ifndef NETWORKHANDLERKESTROL_H
#define NETWORKHANDLERKESTROL_H

#include <QAuthenticator>
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QNetworkReply>
#include <QObject>
#include <QSslError>
#include <QString>
#include <QUrl>

class QHttpMultiPart;
class QNetworkAccessManager;

// The plugin's only HTTP client. A caller hands it a request identifier and a request description and
// later receives exactly one signal_requestFinished with that identifier (for a non-empty identifier and
// URL), always from the event loop, never from inside a request slot.
class NetworkHandlerKestrol : public QObject
{
    Q_OBJECT

public:
    NetworkHandlerKestrol(QNetworkAccessManager *pManager, QObject *parent = nullptr);
    ~NetworkHandlerKestrol() override;

signals:
    void signal_requestFinished(QString sUuid, QByteArray baResult, int iError, QString sText);
    void signal_log(QString sMessage);
    void signal_progress(QString sUuid, int iProgress);

public slots:
    void prRequestGetCommand(QString sUuid, QString sRequestUrl, QString sUser, QString sPassword,
                             QString sDownloadFilename, QHash<QString, QString> hCookies = {});
    void prRequestPutCommand(QString sUuid, QString sRequestUrl, QString sUser, QString sPassword,
                             QString sDownloadFilename, QString sBodyText,
                             QHash<QString, QString> hCookies = {});
    void prRequestPostCommand(QString sUuid, QString sRequestUrl, QString sUser, QString sPassword,
                              QString sUploadFilename, QString sPostName, QString sBodyText,
                              QHash<QString, QString> hCookies);
    // Drops the access manager's cached connections and credentials.
    void renew();

private slots:
    void slotAuthenticationRequired(QNetworkReply *pReply, QAuthenticator *pAuthenticator);
    void slotReadyRead();
    void slotError(QNetworkReply::NetworkError error);
    void slotSslErrors(QList<QSslError> lSslError);
    void slotDownloadProgress(qint64 iBytesSent, qint64 iBytesTotal);
    void slotUploadProgress(qint64 iBytesSent, qint64 iBytesTotal);
    void slotFinished();
    void slotRedirected(QUrl url);

private:
    void connectReply(QNetworkReply *pReply);
    void clearReply(QNetworkReply *pReply);
    int getAuthenticationAttemptCount(QString sUuid);
    void addAuthenticationAttempt(QString sUuid);

    QNetworkAccessManager *pNetworkAccessManager;
    QMap<QString, QByteArray> mapReplyData;
    QMap<QString, int> mapAuthenticationAttempts;
    QMap<QString, QHttpMultiPart *> mapMultiParts;
};

#endif // NETWORKHANDLERKESTROL_H
