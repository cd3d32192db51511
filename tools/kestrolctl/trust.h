#ifndef KESTROLCTL_TRUST_H
#define KESTROLCTL_TRUST_H

#include <QHash>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

// "sha256:<64 lower-case hex digits>" from a fingerprint given as 64 hex digits, ':' allowed, with an
// optional "sha256:" prefix; empty with a one-line message when it is none or the URL is not https.
QString normalizedPin(const QString &sPin, const QString &sUrl, QString *psError);

// "host:port" of a URL, the key of the known-devices file.
QString endpointOf(const QString &sUrl);

// The known-devices file: one "HOST:PORT sha256:HEX" line per endpoint, '#' comments, like ssh's
// known_hosts. The fingerprint is the SHA-256 of the certificate's DER form.
class KnownDevices
{
public:
    // A missing file counts as empty. False with a one-line message naming a bad line.
    bool load(const QString &sPath, QString *psError);
    QString path() const { return sPath; }
    // The fingerprint recorded for an endpoint, empty when none; *piLine is its line number.
    QString fingerprint(const QString &sEndpoint, int *piLine = nullptr) const;
    // Adds an endpoint and rewrites the file whole; false with a one-line message.
    bool record(const QString &sEndpoint, const QString &sFingerprint, QString *psError);

private:
    QString sPath;
    QStringList lLines;
    QHash<QString, QPair<QString, int>> hByEndpoint; // fingerprint and line number
};

// Reads the certificate that the TLS server of an https URL presents, without judging it, and calls done
// once with its fingerprint ("sha256:<hex>") or, when there is none, with Qt's error text.
void readCertificate(const QString &sUrl, int iTimeoutMs, QObject *pContext,
                     std::function<void(QString sFingerprint, QString sError)> done);

#endif // KESTROLCTL_TRUST_H
