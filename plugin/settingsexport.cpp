#include "settingsexport.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

int defaultPort(const QUrl &url)
{
    if (url.scheme() == QLatin1String("https"))
        return 443;
    if (url.scheme() == QLatin1String("http"))
        return 80;
    return -1;
}

bool isSameOrigin(const QUrl &url, const QUrl &base)
{
    return !url.host().isEmpty() && url.scheme() == base.scheme() && url.host() == base.host() &&
           url.port(defaultPort(url)) == base.port(defaultPort(base));
}

QString withTrailingSlash(const QString &sPath)
{
    return sPath.endsWith(QLatin1Char('/')) ? sPath : sPath + QLatin1Char('/');
}

// An absolute directory as the file system resolves it ("..", "." and symbolic links). One that does not
// exist cannot be written into; it is only cleaned.
QString realDirectory(const QString &sAbsoluteDir)
{
    const QString sCanonical = QFileInfo(sAbsoluteDir).canonicalFilePath();
    return sCanonical.isEmpty() ? QDir::cleanPath(sAbsoluteDir) : sCanonical;
}

} // namespace

QString SettingsExport::resolveDestination(const QString &sDestination)
{
    if (sDestination.isEmpty())
        return withTrailingSlash(realDirectory(QDir::currentPath()));
    // A path in the file system: a relative one that starts with ':' would otherwise name one of Qt's
    // resources.
    const QFileInfo info(sDestination.startsWith(QLatin1Char('/'))
                             ? sDestination
                             : QDir::currentPath() + QLatin1Char('/') + sDestination);
    // "." and ".." name directories whether they exist or not.
    const bool bDirectoryName =
        info.fileName() == QLatin1String(".") || info.fileName() == QLatin1String("..");
    if (info.isDir() || bDirectoryName || sDestination.endsWith(QLatin1Char('/')))
        return withTrailingSlash(realDirectory(info.absoluteFilePath()));
    return withTrailingSlash(realDirectory(info.absolutePath())) + info.fileName();
}

QString SettingsExport::filePath(const QString &sResolvedDestination, const QDateTime &dtNow)
{
    if (!sResolvedDestination.endsWith(QLatin1Char('/')))
        return sResolvedDestination;
    return sResolvedDestination +
           QStringLiteral("%1_db.ndb").arg(dtNow.toString(QStringLiteral("yyyyMMddhhmmsszzz")));
}

QString SettingsExport::downloadUrl(const QString &sBaseUrl, const QString &sUrlValue)
{
    QString sValue = sUrlValue;
    sValue.replace(QLatin1Char('\\'), QLatin1Char('/'));

    const QUrl url(sValue, QUrl::TolerantMode);
    if (!url.scheme().isEmpty())
        return isSameOrigin(url, QUrl(sBaseUrl, QUrl::TolerantMode)) ? sValue : QString();

    int iStart = 0;
    while (iStart < sValue.size() && sValue.at(iStart) == QLatin1Char('/'))
        ++iStart;
    if (iStart == sValue.size())
        return QString();
    QString sBase = sBaseUrl;
    while (sBase.endsWith(QLatin1Char('/')))
        sBase.chop(1);
    return sBase + QLatin1Char('/') + sValue.mid(iStart);
}
