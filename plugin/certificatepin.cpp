#include "certificatepin.h"

namespace {

constexpr int iDigits = 64;

bool isHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
}

// Unbroken digits, or pairs with a ':' between every two of them.
QString digitsOf(const QString &sText)
{
    const bool bPaired = sText.size() == iDigits + iDigits / 2 - 1;
    if (!bPaired && sText.size() != iDigits)
        return QString();
    QString sDigits;
    sDigits.reserve(iDigits);
    for (int i = 0; i < sText.size(); ++i) {
        const QChar c = sText.at(i);
        if (bPaired && i % 3 == 2) {
            if (c != QLatin1Char(':'))
                return QString();
        } else if (isHexDigit(c)) {
            sDigits += c;
        } else {
            return QString();
        }
    }
    return sDigits;
}

} // namespace

bool CertificatePin::parse(const QVariant &value, QString *psPin)
{
    psPin->clear();
    if (value.isNull())
        return true;
    if (value.userType() != QMetaType::QString && value.userType() != QMetaType::QByteArray)
        return false;
    QString sText = value.toString().trimmed().toLower();
    if (sText.isEmpty())
        return true;
    if (sText.startsWith(QLatin1String("sha256:")))
        sText.remove(0, 7);
    *psPin = digitsOf(sText);
    return !psPin->isEmpty();
}
