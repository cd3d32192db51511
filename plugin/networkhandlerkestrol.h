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
class QNetworkRequest;
class QSaveFile;

// The plugin's only HTTP client. A caller hands it a request identifier and a request description and
// later receives exactly one signal_requestFinished with that identifier (for a non-empty identifier and
// URL), always from the event loop, never from inside a request slot.
//
// Completion codes: 0 finished without error; 101 credentials refused (also after two supplies of
// credentials); 103 anything else, including an inactivity time-out, an upload file that cannot be read
// and a download file that cannot be written.
//
// Inactivity limits (no bytes moving) are read from the environment when the handler is constructed:
// KESTROL_TRANSFER_TIMEOUT_MS (default 60000) and KESTROL_UPLOAD_TIMEOUT_MS for multipart uploads
// (default 600000). Only positive values are taken.
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
                             QString sDownloadFilename, QHash<QString, QString> hCookies = {},
                             QString sCertificatePin = QString());
    void prRequestPutCommand(QString sUuid, QString sRequestUrl, QString sUser, QString sPassword,
                             QString sDownloadFilename, QString sBodyText,
                             QHash<QString, QString> hCookies = {}, QString sCertificatePin = QString());
    void prRequestPostCommand(QString sUuid, QString sRequestUrl, QString sUser, QString sPassword,
                              QString sUploadFilename, QString sPostName, QString sBodyText,
                              QHash<QString, QString> hCookies, QString sCertificatePin = QString());
    // Drops the access manager's cached connections and credentials. On Qt 5.15 this also abandons the
    // manager's replies in flight (they end only by their time-out), so the handler never calls it itself.
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
    friend class TestTransport;

    static constexpr const char *cPropertyId = "QNETWORKREPLY_PROPERTY_ID";
    static constexpr const char *cPropertyUser = "QNETWORKREPLY_PROPERTY_USER";
    static constexpr const char *cPropertyPassword = "QNETWORKREPLY_PROPERTY_PASSWORD";
    static constexpr const char *cPropertyDownloadFilename = "QNETWORKREPLY_PROPERTY_DOWNLOADFILENAME";

    void connectReply(QNetworkReply *pReply);
    void clearReply(QNetworkReply *pReply);
    int getAuthenticationAttemptCount(QString sUuid);
    void addAuthenticationAttempt(QString sUuid);

    // Request side.
    QNetworkRequest prCreateRequest(const QString &sRequestUrl, const QHash<QString, QString> &hCookies,
                                    int iTimeout) const;
    bool prPrepareAuthentication(QNetworkRequest &request, const QString &sUser, const QString &sPassword);
    void prRememberChallenge(const QUrl &url, const QString &sUser, const QString &sPassword);
    void prSetReplyProperties(QNetworkReply *pReply, const QString &sUuid, const QString &sUser,
                              const QString &sPassword, const QString &sDownloadFilename);
    void prFailLater(const QString &sUuid, const QString &sRequestUrl);

    // Reply side.
    int prResultCode(QNetworkReply *pReply, const QString &sUuid);
    void prReportProgress(const QString &sText, qint64 iBytesSent, qint64 iBytesTotal);

    // Body storage: in memory, or streamed into an atomically written download file.
    bool prStoreData(QNetworkReply *pReply, const QString &sUuid);
    QSaveFile *prDownloadFile(const QString &sUuid, const QString &sFilename);
    bool prCommitDownload(const QString &sUuid, const QString &sFilename);

    QNetworkAccessManager *pNetworkAccessManager;
    QMap<QString, QByteArray> mapReplyData;
    QMap<QString, int> mapAuthenticationAttempts;
    QMap<QString, QHttpMultiPart *> mapMultiParts;
    // Download files being written, keyed by identifier; uncommitted ones vanish when deleted.
    QMap<QString, QSaveFile *> mapDownloadFiles;
    // Completion code of a reply the handler aborted itself; any other cancellation is a time-out.
    QMap<QString, int> mapAbortCodes;
    // Origins ("scheme://host:port") whose challenges were answered, with a digest of the credentials that
    // the manager's connections to it hold. Qt's authenticator owns the Authorization header there.
    QHash<QString, QByteArray> hChallengedOrigins;
    int iTransferTimeout;
    int iUploadTimeout;
};

#endif // NETWORKHANDLERKESTROL_H
