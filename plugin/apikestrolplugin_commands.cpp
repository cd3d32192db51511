#include "apikestrolplugin.h"

#include "apirequestcommand.h"
#include "replyformats.h"

const QMap<QString, ApiKestrolPlugin::Command> &ApiKestrolPlugin::prCommandTable()
{
    using P = ApiKestrolPlugin;
    static const QMap<QString, Command> mapCommands = {
        {QStringLiteral("API_CMD_LOGIN_CHECK"),
         {QStringLiteral("/api/system/info/"), 0, false, &P::prBuildGet, nullptr, {}}},
        {QStringLiteral("API_CMD_GET_CONFIG"),
         {QStringLiteral("/api/system/info/"),
          0,
          false,
          &P::prBuildGet,
          &P::prReadDeviceInfo,
          {ReplyFormats::deviceInfo(QByteArray())}}},
        {QStringLiteral("API_CMD_RESTART"),
         {QStringLiteral("/api/system/management/reboot/"), 0, false, &P::prBuildPost, nullptr, {}}},
        {QStringLiteral("API_CMD_RESET_SOFT"),
         {QStringLiteral("/api/system/management/factory_default/"), 0, false, &P::prBuildPost, nullptr, {}}},
        {QStringLiteral("API_CMD_SETTINGS_LOAD"),
         {QStringLiteral("/api/system/management/db/import/"), 1, false, &P::prBuildUpload, nullptr, {}}},
        {QStringLiteral("API_CMD_SETTINGS_SAVE"),
         {QStringLiteral("/api/system/management/db/export/"),
          0,
          false,
          &P::prBuildSettingsExport,
          &P::prReadSettingsExport,
          {}}},
        // [device's "url" value, absolute local file]
        {QStringLiteral("API_CMD_INTERNAL_SETTINGS_DOWNLOAD"),
         {QString(), 2, true, &P::prBuildSettingsDownload, &P::prReadSettingsDownload, {}}},
        {QStringLiteral("API_CMD_FIRMWARE_UPDATE"),
         {QStringLiteral("/api/system/management/fwupdate/upload/"),
          1,
          false,
          &P::prBuildUpload,
          &P::prReadFirmwareUpload,
          {}}},
        {QStringLiteral("API_CMD_INTERNAL_FIRMWARE_PROCESS"),
         {QStringLiteral("/api/system/management/fwupdate/progress/"),
          0,
          true,
          &P::prBuildGet,
          &P::prReadFirmwareProgress,
          {}}},
        // [counter name, resolution, start, end]
        {QStringLiteral("API_CMD_AICOUNTER_GET"),
         {QStringLiteral("/api/bi/counter/statistics/"),
          4,
          false,
          &P::prBuildCounterValues,
          &P::prReadCounterValues,
          {}}},
        {QStringLiteral("API_CMD_AICOUNTER_LIST"),
         {QStringLiteral("/api/bi/counter/statistics/"),
          0,
          false,
          &P::prBuildCounterList,
          &P::prReadCounterList,
          {}}},
        // [channel]
        {QStringLiteral("API_CMD_SNAPSHOT"),
         {QStringLiteral("/api/snapshot/jpeg/?ch=%1"),
          1,
          false,
          &P::prBuildSnapshot,
          &P::prReadSnapshot,
          {QByteArray()}}},
    };
    return mapCommands;
}

const ApiKestrolPlugin::Command *ApiKestrolPlugin::prCommand(const ApiRequestCommand &request)
{
    const QMap<QString, Command> &mapCommands = prCommandTable();
    const auto it = mapCommands.constFind(request.sCommand);
    if (it == mapCommands.constEnd() || (it->bInternal && !request.bInternal))
        return nullptr;
    return &*it;
}
