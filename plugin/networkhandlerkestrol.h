#ifndef NETWORKHANDLERKESTROL_H
#define NETWORKHANDLERKESTROL_H

#include <QAuthenticator>
#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QLocale>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

class QHttpMultiPart;
class QNetworkAccessManager;
class QSaveFile;
class QTimer;

// The plugin's only HTTP client. A caller hands it a request identifier and a request description and
// later receives exactly one signal_requestFinished with that identifier (for a non-empty identifier and
// URL), always from the event loop, never from inside a request slot.
//
// Completion codes: 0 finished without error; 101 credentials refused (also after two supplies of
// credentials); 103 anything else, including an inactivity time-out, an upload file that cannot be read, a
// download file that cannot be written, a redirect that is not followed and a certificate that does not
// match the request's pin.
//
// Inactivity limits (no bytes moving) are read from the environment when the handler is constructed:
// KESTROL_TRANSFER_TIMEOUT_MS (default 60000) and KESTROL_UPLOAD_TIMEOUT_MS for multipart uploads
// (default 600000). Only positive values are taken.
//
// A certificate pin is empty or the SHA-256 of the device's certificate (DER) or of its public key
// (SubjectPublicKeyInfo DER), as 64 lower-case hex digits. With a pin, any other certificate ends the request
// before anything of it is sent.
//
// Destroying the handler abandons its requests in flight: they are aborted and never answered.
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

private:
    friend class TestTransport;

    // What makes a credential set: an origin (scheme and host in lower case, port), a user, a password and a
    // pin. Compared part by part, so that finding a request's set builds no text.
    struct CredentialKey
    {
        QString sScheme;
        QString sHost;
        int iPort = 0;
        QString sUser;
        QString sPassword;
        QString sCertificatePin;

        friend bool operator==(const CredentialKey &key, const CredentialKey &other)
        {
            return key.iPort == other.iPort && key.sHost == other.sHost && key.sUser == other.sUser &&
                   key.sPassword == other.sPassword && key.sCertificatePin == other.sCertificatePin &&
                   key.sScheme == other.sScheme;
        }
        friend size_t qHash(const CredentialKey &key, size_t iSeed = 0)
        {
            iSeed = qHash(key.sHost, iSeed);
            iSeed = qHash(key.sUser, iSeed);
            iSeed = qHash(key.sPassword, iSeed);
            return qHash(key.iPort, iSeed);
        }
    };

    // One user, password and pin towards one origin. Its requests share connections with each other only.
    struct CredentialSet
    {
        CredentialKey key;
        QString sPeerVerifyName;
        // The Basic header its GETs carry up front.
        QByteArray baBasicAuthorization;
        // Its last GET without cookies: the next one differs only in its URL (until the set is challenged).
        std::optional<QNetworkRequest> getRequest;
        // A GET of this set was challenged: from then on Qt's authenticator answers for it (Digest included),
        // and GET stops sending the Basic header up front.
        bool bChallenged = false;

        // The last GET carries the Basic header, so it goes with the flag.
        void markChallenged()
        {
            bChallenged = true;
            getRequest.reset();
        }
    };

    // Everything the handler keeps about one request in flight, found through its reply.
    struct Request
    {
        QNetworkReply *pReply = nullptr;
        QString sUuid; // empty: sent, but not followed
        QString sUser;
        QString sPassword;
        QString sCertificatePin;
        QString sDownloadFilename;
        QUrl originalUrl; // as the request was given, without user info, before any redirect
        QString sLogUrl;  // the URL as log lines show it
        std::shared_ptr<CredentialSet> pCredentials;
        QByteArray baData;
        qint64 iReceived = 0; // body bytes taken from the reply
        std::unique_ptr<QSaveFile> pDownloadFile;
        std::optional<QNetworkRequest> probeRequest; // for the second sending of a probe
        qint64 iLastActivity = 0;
        int iTimeout = 0;
        int iAuthenticationAttempts = 0;
        // Non-zero: the handler ended the request itself with this code, and this line says why.
        int iEndCode = 0;
        QString sEndLine;
        // A GET that Qt may not answer a challenge for: a challenge ends it, and it goes out again with the
        // credentials in Qt's hands.
        bool bProbe = false;
        bool bChallenged = false;
    };

    // Request side.
    QNetworkRequest prCreateRequest(const Request &request, const QHash<QString, QString> &hCookies) const;
    QNetworkRequest prCreateGetRequest(Request &request, const QHash<QString, QString> &hCookies);
    std::unique_ptr<Request> prNewRequest(const QString &sUuid, const QString &sRequestUrl,
                                          const QString &sUser, const QString &sPassword,
                                          const QString &sCertificatePin);
    void prTrack(std::unique_ptr<Request> pRequest, QNetworkReply *pReply, int iTimeout);
    void prFailLater(const QString &sUuid, const QString &sRequestUrl);
    void connectReply(Request &request);

    // Credentials: who may answer a challenge, and which connections a request may share.
    std::shared_ptr<CredentialSet> prCredentialSet(const QUrl &url, const QString &sUser,
                                                   const QString &sPassword, const QString &sCertificatePin);
    void prApplyCredentials(QNetworkRequest &networkRequest, Request &request, bool bRawBasic);
    void prResendProbe(Request &request);

    // Certificates and redirects.
    bool isPinMatched(const Request &request, const QSslCertificate &certificate) const;
    bool isRedirectFollowed(const Request &request, const QUrl &target) const;

    // Reply side; each reacts to one signal of the request's reply.
    void slotReadyRead(Request &request);
    void slotDownloadProgress(Request &request, qint64 iBytesReceived, qint64 iBytesTotal);
    void slotUploadProgress(Request &request, qint64 iBytesSent, qint64 iBytesTotal);
    void slotSslErrors(Request &request, const QList<QSslError> &lSslError);
    void slotEncrypted(Request &request);
    void slotRedirected(Request &request, const QUrl &url);
    void slotFinished(Request &request);
    void slotWatchdog();
    bool isRefusedProbe(const Request &request) const;
    void prReportProgress(Request &request, QLatin1String sText, qint64 iBytesDone, qint64 iBytesTotal);
    QString prDataSize(qint64 iBytes);
    int prResultCode(Request &request);
    void prEnd(Request &request, int iCode, const QString &sLine);
    void clearReply(Request &request);

    // Body storage: in memory, or streamed into an atomically written download file.
    bool prStoreData(Request &request);
    bool isBodyComplete(Request &request);
    QSaveFile *prDownloadFile(Request &request);
    bool prCommitDownload(Request &request);

    // Its replies are its children: once it is gone, so are they.
    QPointer<QNetworkAccessManager> pNetworkAccessManager;
    QHash<QNetworkReply *, Request *> hRequests;
    QHash<CredentialKey, std::shared_ptr<CredentialSet>> hCredentialSets;
    // Next connection index per origin.
    QHash<QString, int> hOriginIndices;
    QTimer *pWatchdog;
    QElapsedTimer clock;
    QLocale locale;
    // Byte counts as progress lines show them; a fleet's replies to one command mostly share their size.
    QHash<qint64, QString> hDataSizes;
    int iTransferTimeout;
    int iUploadTimeout;
};

#endif // NETWORKHANDLERKESTROL_H
