#include "apikestrolplugin.h"

#include "apirequestcommand.h"
#include "kestroldevice.h"
#include "networkhandlerkestrol.h"
#include "settingsexport.h"

#include <QDate>
#include <QUrl>

namespace {

const QString sFirmwareProgressPath = QStringLiteral("/api/system/management/fwupdate/progress/");
const QString sCounterCommand = QStringLiteral("API_CMD_AICOUNTER_GET");

QString percentEncoded(const QVariant &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value.toString()));
}

QString withEscapedSpaces(const QVariant &value)
{
    return value.toString().replace(QLatin1Char(' '), QLatin1String("%20"));
}

} // namespace

const QHash<QString, ApiKestrolPlugin::RequestBuilder> &ApiKestrolPlugin::prRequestBuilders()
{
    static const QHash<QString, RequestBuilder> hBuilders = {
        {QStringLiteral("API_CMD_LOGIN_CHECK"), {0, &ApiKestrolPlugin::prBuildTableGet}},
        {QStringLiteral("API_CMD_GET_CONFIG"), {0, &ApiKestrolPlugin::prBuildTableGet}},
        {QStringLiteral("API_CMD_RESTART"), {0, &ApiKestrolPlugin::prBuildTablePost}},
        {QStringLiteral("API_CMD_RESET_SOFT"), {0, &ApiKestrolPlugin::prBuildTablePost}},
        {QStringLiteral("API_CMD_SETTINGS_SAVE"), {0, &ApiKestrolPlugin::prBuildSettingsExport}},
        {QStringLiteral("API_CMD_INTERNAL_SETTINGS_DOWNLOAD"),
         {2, &ApiKestrolPlugin::prBuildSettingsDownload}},
        {QStringLiteral("API_CMD_SETTINGS_LOAD"), {1, &ApiKestrolPlugin::prBuildUpload}},
        {QStringLiteral("API_CMD_FIRMWARE_UPDATE"), {1, &ApiKestrolPlugin::prBuildUpload}},
        {QStringLiteral("API_CMD_INTERNAL_FIRMWARE_PROCESS"),
         {0, &ApiKestrolPlugin::prBuildFirmwareProgress}},
        {QStringLiteral("API_CMD_AICOUNTER_GET"), {4, &ApiKestrolPlugin::prBuildCounterValues}},
        {QStringLiteral("API_CMD_AICOUNTER_LIST"), {0, &ApiKestrolPlugin::prBuildCounterList}},
        {QStringLiteral("API_CMD_SNAPSHOT"), {1, &ApiKestrolPlugin::prBuildSnapshot}},
    };
    return hBuilders;
}

// Every argument is read before the transport is called: the transport's log lines reach host code, which
// may change or remove the device.
void ApiKestrolPlugin::prSendGet(const ApiRequestCommand &request, const KestrolDevice &device,
                                 const QString &sUrl, const QString &sDownloadFilename)
{
    pNetworkHandler->prRequestGetCommand(request.sUuid, sUrl, device.getUser(), device.getPassword(),
                                         sDownloadFilename, {});
}

void ApiKestrolPlugin::prSendPost(const ApiRequestCommand &request, const KestrolDevice &device,
                                  const QString &sUrl, const QString &sUploadFilename,
                                  const QString &sPostName)
{
    pNetworkHandler->prRequestPostCommand(request.sUuid, sUrl, device.getUser(), device.getPassword(),
                                          sUploadFilename, sPostName, QString(), {});
}

bool ApiKestrolPlugin::prBuildTableGet(ApiRequestCommand &request, const KestrolDevice &device)
{
    prSendGet(request, device, device.getUrl() + mapCommandPaths.value(request.sCommand));
    return true;
}

bool ApiKestrolPlugin::prBuildTablePost(ApiRequestCommand &request, const KestrolDevice &device)
{
    prSendPost(request, device, device.getUrl() + mapCommandPaths.value(request.sCommand));
    return true;
}

bool ApiKestrolPlugin::prBuildUpload(ApiRequestCommand &request, const KestrolDevice &device)
{
    prSendPost(request, device, device.getUrl() + mapCommandPaths.value(request.sCommand),
               request.lParam.at(0).toString(), QStringLiteral("file"));
    return true;
}

// The destination is fixed now, so that a relative one means the current directory of this moment; the
// export reply then only adds the device's location of the file.
bool ApiKestrolPlugin::prBuildSettingsExport(ApiRequestCommand &request, const KestrolDevice &device)
{
    request.replaceParams({SettingsExport::resolveDestination(request.lParam.value(0).toString())});
    prSendPost(request, device, device.getUrl() + mapCommandPaths.value(request.sCommand));
    return true;
}

// lParam: the device's "url" value, then the local file to write.
bool ApiKestrolPlugin::prBuildSettingsDownload(ApiRequestCommand &request, const KestrolDevice &device)
{
    const QString sUrl = SettingsExport::downloadUrl(device.getUrl(), request.lParam.at(0).toString());
    if (sUrl.isEmpty()) {
        onLog(QStringLiteral("Refused download location: %1 (%2)")
                  .arg(request.lParam.at(0).toString(), request.sUuid));
        return false;
    }
    prSendGet(request, device, sUrl, request.lParam.at(1).toString());
    return true;
}

bool ApiKestrolPlugin::prBuildFirmwareProgress(ApiRequestCommand &request, const KestrolDevice &device)
{
    prSendGet(request, device, device.getUrl() + sFirmwareProgressPath);
    return true;
}

bool ApiKestrolPlugin::prBuildCounterValues(ApiRequestCommand &request, const KestrolDevice &device)
{
    const QList<QVariant> &lParam = request.lParam;
    const QString sQuery = QStringLiteral("counter_name=%1&format=json&resolution=%2&datetime=%3,%4")
                               .arg(percentEncoded(lParam.at(0)), percentEncoded(lParam.at(1)),
                                    withEscapedSpaces(lParam.at(2)), withEscapedSpaces(lParam.at(3)));
    prSendGet(request, device, device.getUrl() + mapCommandPaths.value(sCounterCommand) + '?' + sQuery);
    return true;
}

bool ApiKestrolPlugin::prBuildCounterList(ApiRequestCommand &request, const KestrolDevice &device)
{
    const QString sFormat = QStringLiteral("yyyy-MM-dd");
    const QString sStart = QDate::currentDate().toString(sFormat) + QLatin1String("%2000:00:00");
    const QString sEnd = QDate::currentDate().toString(sFormat) + QLatin1String("%2023:59:59");
    const QString sQuery =
        QStringLiteral("format=json&resolution=%1&datetime=%2,%3").arg(QStringLiteral("86400"), sStart, sEnd);
    prSendGet(request, device, device.getUrl() + mapCommandPaths.value(sCounterCommand) + '?' + sQuery);
    return true;
}

bool ApiKestrolPlugin::prBuildSnapshot(ApiRequestCommand &request, const KestrolDevice &device)
{
    prSendGet(request, device,
              device.getUrl() + mapCommandPaths.value(request.sCommand).arg(request.lParam.at(0).toString()));
    return true;
}
