#include "logtext.h"

#include <QRegularExpression>
#include <QStringBuilder>
#include <QUrl>

#include <algorithm>

namespace {

// C0 and C1 controls, and the Unicode line and paragraph separators, which log readers may break lines at.
bool isControl(QChar c)
{
    const ushort u = c.unicode();
    return u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029;
}

} // namespace

QString LogText::url(const QUrl &url)
{
    return escaped(url.toString(QUrl::RemoveUserInfo));
}

QString LogText::url(const QString &sUrl)
{
    // User info needs an '@'; most URLs have none and are not parsed again.
    if (!sUrl.contains(QLatin1Char('@')))
        return escaped(sUrl);
    return url(QUrl(sUrl, QUrl::TolerantMode));
}

QString LogText::escaped(const QString &sText)
{
    if (std::none_of(sText.cbegin(), sText.cend(), isControl))
        return sText;
    QString sResult;
    sResult.reserve(sText.size() + 8);
    for (const QChar c : sText) {
        switch (c.unicode()) {
        case '\n':
            sResult += QLatin1String("\\n");
            break;
        case '\r':
            sResult += QLatin1String("\\r");
            break;
        case '\t':
            sResult += QLatin1String("\\t");
            break;
        default:
            if (!isControl(c))
                sResult += c;
            else if (c.unicode() > 0xff)
                sResult += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                sResult += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        }
    }
    return sResult;
}

QString LogText::scrubbed(const QString &sText)
{
    if (!sText.contains(QLatin1Char('@')))
        return escaped(sText);
    static const QRegularExpression userInfo(QStringLiteral("([A-Za-z][A-Za-z0-9+.-]*://)[^\\s/?#@]*@"));
    return escaped(QString(sText).replace(userInfo, QStringLiteral("\\1")));
}

QString LogText::requestLine(QLatin1String sText, const QString &sSubject, const QString &sUuid)
{
    return sText % sSubject % QLatin1String(" (") % sUuid % QLatin1Char(')');
}
