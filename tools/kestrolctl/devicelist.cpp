#include "devicelist.h"

#include "trust.h"

#include <QFile>
#include <QSet>
#include <QStringList>
#include <QUrl>

namespace {

// Splits one CSV line. Unquoted fields are trimmed; quoted fields are kept exactly.
bool splitCsvLine(const QString &sLine, QStringList *plFields)
{
    QString sField;
    bool bQuoted = false;
    bool bWasQuoted = false;
    for (int i = 0; i < sLine.size(); ++i) {
        const QChar c = sLine.at(i);
        if (bQuoted) {
            if (c == '"' && i + 1 < sLine.size() && sLine.at(i + 1) == '"') {
                sField += '"';
                ++i;
            } else if (c == '"') {
                bQuoted = false;
            } else {
                sField += c;
            }
        } else if (c == '"' && sField.trimmed().isEmpty()) {
            sField.clear();
            bQuoted = true;
            bWasQuoted = true;
        } else if (c == ',') {
            plFields->append(bWasQuoted ? sField : sField.trimmed());
            sField.clear();
            bWasQuoted = false;
        } else if (bWasQuoted && !c.isSpace()) {
            return false;
        } else if (!bWasQuoted) {
            sField += c;
        }
    }
    if (bQuoted)
        return false;
    plFields->append(bWasQuoted ? sField : sField.trimmed());
    return true;
}

} // namespace

QString normalizedDeviceUrl(const QString &sUrl, QString *psError)
{
    const QUrl url(sUrl, QUrl::StrictMode);
    const QString sScheme = url.scheme().toLower();
    if (!url.isValid() || (sScheme != "http" && sScheme != "https") || url.host().isEmpty()) {
        *psError = QStringLiteral("'%1' is not a device URL; give scheme and host, e.g. https://192.0.2.10")
                       .arg(sUrl);
        return QString();
    }
    QString sResult = sUrl.trimmed();
    while (sResult.endsWith('/'))
        sResult.chop(1);
    return sResult;
}

QString deviceIdFromUrl(const QString &sUrl)
{
    const QUrl url(sUrl);
    const QString sHost =
        url.port() < 0 ? url.host() : QStringLiteral("%1:%2").arg(url.host()).arg(url.port());
    return sHost + url.path();
}

bool readDeviceFile(const QString &sPath, QList<DeviceEntry> *plDevices, QString *psError)
{
    QFile file(sPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *psError = QStringLiteral("cannot read device file %1: %2").arg(sPath, file.errorString());
        return false;
    }
    QSet<QString> setIds;
    int iLine = 0;
    while (!file.atEnd()) {
        ++iLine;
        const QString sLine = QString::fromUtf8(file.readLine()).trimmed();
        if (sLine.isEmpty() || sLine.startsWith('#'))
            continue;
        const QString sWhere = QStringLiteral("%1:%2: ").arg(sPath).arg(iLine);
        QStringList lFields;
        if (!splitCsvLine(sLine, &lFields)) {
            *psError = sWhere + QStringLiteral("unbalanced quotes");
            return false;
        }
        if (lFields.size() < 2 || lFields.size() > 5) {
            *psError = sWhere + QStringLiteral("expected \"id,url,user,password,pin\"");
            return false;
        }
        DeviceEntry device;
        device.sId = lFields.at(0);
        if (device.sId.isEmpty()) {
            *psError = sWhere + QStringLiteral("empty device id");
            return false;
        }
        if (setIds.contains(device.sId)) {
            *psError = sWhere + QStringLiteral("device id '%1' appears twice").arg(device.sId);
            return false;
        }
        setIds.insert(device.sId);
        QString sUrlError;
        device.sUrl = normalizedDeviceUrl(lFields.at(1), &sUrlError);
        if (device.sUrl.isEmpty()) {
            *psError = sWhere + sUrlError;
            return false;
        }
        device.sUser = lFields.value(2);
        device.sPassword = lFields.value(3);
        if (!lFields.value(4).isEmpty()) {
            QString sPinError;
            device.sPin = normalizedPin(lFields.at(4), device.sUrl, &sPinError);
            if (device.sPin.isEmpty()) {
                *psError = sWhere + sPinError;
                return false;
            }
        }
        plDevices->append(device);
    }
    if (plDevices->isEmpty()) {
        *psError = QStringLiteral("device file %1 lists no device").arg(sPath);
        return false;
    }
    return true;
}
