#ifndef KESTROLCTL_COMMANDS_H
#define KESTROLCTL_COMMANDS_H

#include <QList>
#include <QString>

// One device command as the command line offers it: a readable name, the plugin's command name and the
// arguments it takes.
struct CommandEntry
{
    QString sName;    // "info"
    QString sApiName; // "API_CMD_GET_CONFIG"
    QString sArgs;    // "NAME RESOLUTION START END", for help and usage errors
    int iMinArgs;
    int iMaxArgs;
    QString sHelp;
};

// The ten device commands in the order of the help text.
const QList<CommandEntry> &commandTable();
// Finds a command by its readable name or by its plugin command name; null when there is none.
const CommandEntry *findCommand(const QString &sName);
// Checks the number of arguments; false with a one-line message.
bool checkArgumentCount(const CommandEntry &entry, int iCount, QString *psError);

#endif // KESTROLCTL_COMMANDS_H
