#include "apikestrolplugin.h"

#include "apirequestcommand.h"
#include "kestroldevice.h"
#include "logtext.h"
#include "networkhandlerkestrol.h"
#include "settingsexport.h"

#include <QDate>
#include <QUrl>

#include <optional>

namespace {

QString percentEncoded(const QVariant &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value.toString()));
}

QString withEscapedSpaces(const QVariant &value)
{
    return value.toString().replace(QLatin1Char(' '), QLatin1String("%20"));
}

// A parameter that names a file: its text, empty for a null value, nothing for a list or map (whose text
// form would be an accident of the container).
std::optional<QString> fileParam(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
    case QMetaType::QByteArrayList:
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
        return std::nullopt;
    default:
        return value.toString();
    }
}

} // namespace

// Every argument is read before the transport is called: the transport's log lines reach host code, which
// may change or remove the device.
void ApiKestrolPlugin::prSendGet(ApiRequestCommand &request, const KestrolDevice &device, const QString &sUrl,
                                 const QString &sDownloadFilename)
{
    request.sRequestUrl = sUrl;
    pNetworkHandler->prRequestGetCommand(request.sUuid, sUrl, device.getUser(), device.getPassword(),
                                         sDownloadFilename, {}, device.getCertificatePin());
}

void ApiKestrolPlugin::prSendPost(ApiRequestCommand &request, const KestrolDevice &device,
                                  const QString &sUrl, const QString &sUploadFilename,
                                  const QString &sPostName)
{
    request.sRequestUrl = sUrl;
    pNetworkHandler->prRequestPostCommand(request.sUuid, sUrl, device.getUser(), device.getPassword(),
                                          sUploadFilename, sPostName, QString(), {},
                                          device.getCertificatePin());
}

bool ApiKestrolPlugin::prBuildGet(ApiRequestCommand &request, const KestrolDevice &device,
                                  const QString &sPath)
{
    prSendGet(request, device, device.getUrl() + sPath);
    return true;
}

bool ApiKestrolPlugin::prBuildPost(ApiRequestCommand &request, const KestrolDevice &device,
                                   const QString &sPath)
{
    prSendPost(request, device, device.getUrl() + sPath);
    return true;
}

// A request without a readable file name is refused as the transport refuses a file it cannot open, so
// nothing goes out as an upload without a file.
bool ApiKestrolPlugin::prBuildUpload(ApiRequestCommand &request, const KestrolDevice &device,
                                     const QString &sPath)
{
    const QString sFile = fileParam(request.lParam.at(0)).value_or(QString());
    if (sFile.isEmpty() || sFile.contains(QChar::Null)) {
        onLog(QStringLiteral("Could not open upload file: %1, %2 (%3)")
                  .arg(LogText::escaped(sFile),
                       sFile.isEmpty() ? QStringLiteral("No file name specified")
                                       : QStringLiteral("Invalid file name"),
                       request.sUuid));
        return false;
    }
    prSendPost(request, device, device.getUrl() + sPath, sFile, QStringLiteral("file"));
    return true;
}

// The destination is fixed now, so that a relative one means the current directory of this moment; the
// export reply then only adds the device's location of the file.
bool ApiKestrolPlugin::prBuildSettingsExport(ApiRequestCommand &request, const KestrolDevice &device,
                                             const QString &sPath)
{
    const std::optional<QString> sDestination = fileParam(request.lParam.value(0));
    if (!sDestination || sDestination->contains(QChar::Null)) {
        onLog(QStringLiteral("Invalid backup destination: %1 (%2)")
                  .arg(LogText::escaped(sDestination.value_or(QString())), request.sUuid));
        return false;
    }
    request.replaceParams({SettingsExport::resolveDestination(*sDestination)});
    prSendPost(request, device, device.getUrl() + sPath);
    return true;
}

// lParam: the device's "url" value, then the local file to write.
bool ApiKestrolPlugin::prBuildSettingsDownload(ApiRequestCommand &request, const KestrolDevice &device,
                                               const QString &)
{
    const QString sUrl = SettingsExport::downloadUrl(device.getUrl(), request.lParam.at(0).toString());
    if (sUrl.isEmpty()) {
        onLog(QStringLiteral("Refused download location: %1 (%2)")
                  .arg(LogText::url(request.lParam.at(0).toString()), request.sUuid));
        return false;
    }
    prSendGet(request, device, sUrl, request.lParam.at(1).toString());
    return true;
}

bool ApiKestrolPlugin::prBuildCounterValues(ApiRequestCommand &request, const KestrolDevice &device,
                                            const QString &sPath)
{
    const QList<QVariant> &lParam = request.lParam;
    const QString sQuery = QStringLiteral("counter_name=%1&format=json&resolution=%2&datetime=%3,%4")
                               .arg(percentEncoded(lParam.at(0)), percentEncoded(lParam.at(1)),
                                    withEscapedSpaces(lParam.at(2)), withEscapedSpaces(lParam.at(3)));
    prSendGet(request, device, device.getUrl() + sPath + '?' + sQuery);
    return true;
}

bool ApiKestrolPlugin::prBuildCounterList(ApiRequestCommand &request, const KestrolDevice &device,
                                          const QString &sPath)
{
    const QString sFormat = QStringLiteral("yyyy-MM-dd");
    const QString sStart = QDate::currentDate().toString(sFormat) + QLatin1String("%2000:00:00");
    const QString sEnd = QDate::currentDate().toString(sFormat) + QLatin1String("%2023:59:59");
    const QString sQuery =
        QStringLiteral("format=json&resolution=%1&datetime=%2,%3").arg(QStringLiteral("86400"), sStart, sEnd);
    prSendGet(request, device, device.getUrl() + sPath + '?' + sQuery);
    return true;
}

bool ApiKestrolPlugin::prBuildSnapshot(ApiRequestCommand &request, const KestrolDevice &device,
                                       const QString &sPath)
{
    prSendGet(request, device, device.getUrl() + sPath.arg(request.lParam.at(0).toString()));
    return true;
}
