#include "trust.h"

#include "wholefile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {

const QString sPinPrefix = QStringLiteral("sha256:");

QString fingerprintText(const QString &sText)
{
    QString sHex = sText.trimmed().toLower();
    if (sHex.startsWith(sPinPrefix))
        sHex = sHex.mid(sPinPrefix.size());
    sHex.remove(':');
    static const QRegularExpression reHex(QStringLiteral("^[0-9a-f]{64}$"));
    return reHex.match(sHex).hasMatch() ? sPinPrefix + sHex : QString();
}

} // namespace

QString normalizedPin(const QString &sPin, const QString &sUrl, QString *psError)
{
    if (QUrl(sUrl).scheme().toLower() != QLatin1String("https")) {
        *psError = QStringLiteral("a pin needs an https URL, not %1").arg(sUrl);
        return QString();
    }
    const QString sFingerprint = fingerprintText(sPin);
    if (sFingerprint.isEmpty())
        *psError =
            QStringLiteral("pin '%1': give 64 hex digits (':' allowed, optional \"sha256:\")").arg(sPin);
    return sFingerprint;
}

QString endpointOf(const QString &sUrl)
{
    const QUrl url(sUrl);
    const int iPort = url.port(url.scheme().toLower() == QLatin1String("https") ? 443 : 80);
    const QString sHost = url.host().toLower();
    return QStringLiteral("%1:%2").arg(sHost.contains(':') ? '[' + sHost + ']' : sHost).arg(iPort);
}

bool KnownDevices::load(const QString &sPathIn, QString *psError)
{
    sPath = sPathIn;
    QFile file(sPath);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *psError = QStringLiteral("cannot read %1: %2").arg(sPath, file.errorString());
        return false;
    }
    while (!file.atEnd()) {
        const QString sLine = QString::fromUtf8(file.readLine()).trimmed();
        lLines.append(sLine);
        if (sLine.isEmpty() || sLine.startsWith('#'))
            continue;
        const QStringList lFields = sLine.split(' ', Qt::SkipEmptyParts);
        const QString sFingerprint = fingerprintText(lFields.value(1));
        if (lFields.size() != 2 || sFingerprint.isEmpty()) {
            *psError =
                QStringLiteral("%1:%2: expected \"HOST:PORT sha256:HEX\"").arg(sPath).arg(lLines.size());
            return false;
        }
        hByEndpoint.insert(lFields.at(0).toLower(), {sFingerprint, int(lLines.size())});
    }
    return true;
}

QString KnownDevices::fingerprint(const QString &sEndpoint, int *piLine) const
{
    const QPair<QString, int> known = hByEndpoint.value(sEndpoint);
    if (piLine)
        *piLine = known.second;
    return known.first;
}

bool KnownDevices::record(const QString &sEndpoint, const QString &sFingerprint, QString *psError)
{
    if (lLines.isEmpty())
        lLines.append(
            QStringLiteral("# kestrolctl known devices: HOST:PORT sha256:<SHA-256 of the certificate>"));
    lLines.append(sEndpoint + ' ' + sFingerprint);
    hByEndpoint.insert(sEndpoint, {sFingerprint, int(lLines.size())});
    return writeWholeFile(sPath, (lLines.join('\n') + '\n').toUtf8(), psError);
}

void readCertificate(const QString &sUrl, int iTimeoutMs, QObject *pContext,
                     std::function<void(QString sFingerprint, QString sError)> done)
{
    const QUrl url(sUrl);
    auto *pSocket = new QSslSocket(pContext);
    auto *pTimer = new QTimer(pSocket);
    auto pDone = std::make_shared<std::function<void(QString, QString)>>(std::move(done));
    auto finish = [pSocket, pDone](const QString &sFingerprint, const QString &sError) {
        if (!*pDone)
            return;
        const auto callback = std::move(*pDone);
        *pDone = nullptr;
        pSocket->abort();
        pSocket->deleteLater();
        callback(sFingerprint, sError);
    };
    // Devices present self-signed certificates: the certificate is asked for and compared, not verified.
    pSocket->setPeerVerifyMode(QSslSocket::QueryPeer);
    QObject::connect(pSocket, &QSslSocket::encrypted, pSocket, [pSocket, finish] {
        finish(sPinPrefix +
                   QString::fromLatin1(pSocket->peerCertificate().digest(QCryptographicHash::Sha256).toHex()),
               QString());
    });
    QObject::connect(
        pSocket, &QAbstractSocket::errorOccurred, pSocket,
        [pSocket, finish](QAbstractSocket::SocketError) { finish(QString(), pSocket->errorString()); });
    QObject::connect(pTimer, &QTimer::timeout, pSocket,
                     [finish] { finish(QString(), QStringLiteral("Connection timed out")); });
    pTimer->start(iTimeoutMs);
    pSocket->connectToHostEncrypted(url.host(), quint16(url.port(443)));
}
