#include "chaosplan.h"

#include <algorithm>

namespace ChaosPlan {

const QList<Kind> &kinds()
{
    static const QList<Kind> lKinds = {
        {"ok", {}, Address::Device, kCode0, 5},
        {"chunked", R"({"chunked": true})", Address::Device, kCode0, 1},
        {"churn", {}, Address::Alternating, kCode0 | kCode101 | kCode103, 2},
        {"hang", {}, Address::Device, kCode103, 1, true},
        {"drop", R"({"dropMidBody": true})", Address::Device, kCode103, 1, true},
        {"401", R"({"unauthorizedTimes": 1000000000})", Address::Device, kCode101, 1},
        {"wrong password", {}, Address::WrongPass, kCode101, 1},
        {"500", R"({"status": 500})", Address::Device, kCode103, 1},
        {"garbage", R"({"notJson": true})", Address::Device, kCode0 | kCode103, 1},
        {"empty body", R"({"emptyBody": true})", Address::Device, kCode0 | kCode103, 1},
        {"repeated members", R"({"body": "[{\"in\": [1, 2], \"in\": [3], \"url\": {}, \"url\": \"x\"}]"})",
         Address::Device, kCode0 | kCode103, 1},
        {"truncated", R"({"lengthMismatch": 100})", Address::Device, kCode103, 1, true},
        // Qt 5.15 takes a chunk-size line that is not hexadecimal for the last chunk and ends the reply
        // without an error, so what arrived before it is all the plugin can see.
        {"bad chunk", R"({"badChunk": true})", Address::Device, kCode0 | kCode103, 1},
        {"chunks vs length", R"({"chunked": true, "lengthMismatch": 7})", Address::Device, kCode103, 1},
        {"tls failure", {}, Address::HttpsOnHttp, kCode103, 1},
        {"pin mismatch", {}, Address::WrongPin, kCode103, 1},
        {"redirect", R"({"redirectTo": "http://127.0.0.1:9/elsewhere"})", Address::Device, kCode103, 1},
        {"file url", {}, Address::FileUrl, kCode103, 1},
        {"host input", {}, Address::Device, kCode103, 0},
    };
    return lKinds;
}

int hostileKind()
{
    return kinds().size() - 1;
}

QByteArray faultOf(int iKind, int iTimeoutMs)
{
    // Silent well past the plugin's limit, then answering, so that the simulator's threads come free.
    if (kinds().at(iKind).pcName == QByteArray("hang"))
        return QByteArrayLiteral("{\"delayMs\": ") + QByteArray::number(2 * iTimeoutMs + 1000) + '}';
    return kinds().at(iKind).baFault;
}

QList<int> deviceSlots(const QStringList &lNames)
{
    QList<int> lSlots;
    for (int iKind = 0; iKind < kinds().size(); ++iKind) {
        const bool bChosen = lNames.isEmpty() || lNames.contains(QLatin1String(kinds().at(iKind).pcName));
        for (int i = 0; bChosen && i < qMax(lNames.isEmpty() ? 0 : 1, kinds().at(iKind).iWeight); ++i)
            lSlots.append(iKind);
    }
    for (const QString &sName : lNames) {
        const bool bKnown = std::any_of(kinds().cbegin(), kinds().cend(), [&](const Kind &kind) {
            return sName == QLatin1String(kind.pcName);
        });
        if (!bKnown || sName == QLatin1String(kinds().at(hostileKind()).pcName))
            return {};
    }
    return lSlots;
}

int kindOfDevice(const QList<int> &lSlots, int iDevice)
{
    // Stepping on by one slot every round of simulators keeps kinds and simulators independent.
    return lSlots.at((iDevice / 4 + iDevice) % lSlots.size());
}

const QList<QByteArray> &apiPaths()
{
    static const QList<QByteArray> lPaths = {
        "/api/system/info/",
        "/api/snapshot/jpeg/",
        "/api/bi/counter/statistics/",
        "/api/system/management/db/export/",
        "/files/export/settings.ndb",
        "/api/system/management/db/import/",
        "/api/system/management/fwupdate/upload/",
        "/api/system/management/fwupdate/progress/",
        "/api/system/management/reboot/",
        "/api/system/management/factory_default/",
    };
    return lPaths;
}

Command deviceCommand(int iDraw, const Files &files)
{
    // Out of 100: mostly reads, as a host polls; transfers and actions now and then.
    const int iSlot = iDraw % 100;
    if (iSlot < 28)
        return {QStringLiteral("API_CMD_GET_CONFIG"), {}, true};
    if (iSlot < 48)
        return {QStringLiteral("API_CMD_SNAPSHOT"), {1 + iDraw % 4}, true};
    if (iSlot < 58)
        return {QStringLiteral("API_CMD_AICOUNTER_LIST"), {}};
    if (iSlot < 68)
        return {QStringLiteral("API_CMD_AICOUNTER_GET"),
                {QStringLiteral("in"), 3600, QStringLiteral("2024-03-05 08:00:00"),
                 QStringLiteral("2024-03-05 18:00:00")}};
    if (iSlot < 78)
        return {QStringLiteral("API_CMD_LOGIN_CHECK"), {}};
    if (iSlot < 84)
        return {QStringLiteral("API_CMD_SETTINGS_SAVE"), {files.sBackupDir}, false, true};
    if (iSlot < 90)
        return {QStringLiteral("API_CMD_FIRMWARE_UPDATE"), {files.sFirmware}};
    if (iSlot < 95)
        return {QStringLiteral("API_CMD_SETTINGS_LOAD"), {files.sSettings}};
    if (iSlot < 98)
        return {QStringLiteral("API_CMD_RESTART"), {}};
    return {QStringLiteral("API_CMD_RESET_SOFT"), {}};
}

Command hostileCommand(int iDraw, const Files &files, QString *psDeviceId)
{
    switch (iDraw % 8) {
    case 0:
        return {QStringLiteral("API_CMD_NO_SUCH_THING"), {}};
    case 1:
        return {QStringLiteral("API_CMD_INTERNAL_SETTINGS_DOWNLOAD"),
                {QStringLiteral("/files/export/settings.ndb"), files.sForbidden}};
    case 2:
        return {QStringLiteral("API_CMD_FIRMWARE_UPDATE"), {QString()}};
    case 3:
        return {QStringLiteral("API_CMD_SETTINGS_LOAD"), {QVariantList{files.sSettings}}};
    case 4:
        return {QStringLiteral("API_CMD_SNAPSHOT"), {}, true};
    case 5:
        return {QStringLiteral("API_CMD_AICOUNTER_GET"), {QStringLiteral("in")}};
    case 6:
        return {QStringLiteral("API_CMD_SETTINGS_SAVE"), {files.sBackupDir + QChar(0) + QStringLiteral("x")}};
    default:
        *psDeviceId = QStringLiteral("no such device");
        return {QStringLiteral("API_CMD_GET_CONFIG"), {}, true};
    }
}

} // namespace ChaosPlan
