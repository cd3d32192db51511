#include "commands.h"

const QList<CommandEntry> &commandTable()
{
    static const QList<CommandEntry> lCommands = {
        {"login-check", "API_CMD_LOGIN_CHECK", "", 0, 0, "check that the device accepts the credentials"},
        {"info", "API_CMD_GET_CONFIG", "", 0, 0, "firmware version and MAC address"},
        {"counters", "API_CMD_AICOUNTER_LIST", "", 0, 0, "names of today's counters"},
        {"counter", "API_CMD_AICOUNTER_GET", "NAME RESOLUTION START END", 4, 4,
         "values of one counter; RESOLUTION in seconds, START and END as \"yyyy-MM-dd hh:mm:ss\""},
        {"snapshot", "API_CMD_SNAPSHOT", "CHANNEL", 1, 1,
         "JPEG snapshot of a channel into -o FILE or DIR (default: current directory)"},
        {"settings-save", "API_CMD_SETTINGS_SAVE", "[DEST]", 0, 1,
         "back up the settings into DEST, a directory or file (default: current directory)"},
        {"settings-load", "API_CMD_SETTINGS_LOAD", "FILE", 1, 1, "restore the settings from FILE"},
        {"firmware-update", "API_CMD_FIRMWARE_UPDATE", "FILE", 1, 1, "upload the firmware image FILE"},
        {"restart", "API_CMD_RESTART", "", 0, 0, "reboot the device"},
        {"reset", "API_CMD_RESET_SOFT", "", 0, 0, "reset the device to factory defaults"},
    };
    return lCommands;
}

const CommandEntry *findCommand(const QString &sName)
{
    for (const CommandEntry &entry : commandTable()) {
        if (entry.sName == sName || entry.sApiName == sName)
            return &entry;
    }
    return nullptr;
}

bool checkArgumentCount(const CommandEntry &entry, int iCount, QString *psError)
{
    if (iCount >= entry.iMinArgs && iCount <= entry.iMaxArgs)
        return true;
    const QString sUsage = entry.sArgs.isEmpty() ? entry.sName : entry.sName + ' ' + entry.sArgs;
    if (entry.iMaxArgs == 0)
        *psError = QStringLiteral("%1 takes no arguments").arg(entry.sName);
    else if (iCount < entry.iMinArgs)
        *psError = QStringLiteral("missing arguments; usage: %1").arg(sUsage);
    else
        *psError = QStringLiteral("too many arguments; usage: %1").arg(sUsage);
    return false;
}
