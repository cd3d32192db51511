#ifndef KESTROLCTL_COMMANDS_H
#define KESTROLCTL_COMMANDS_H

#include "outcome.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>

namespace devicesim {
class Simulator;
}

using Fields = QList<QPair<QString, QString>>;

// What -o names for a command.
enum class OutputUse
{
    None,
    Image,       // the JPEG file, or the directory for one per device
    CounterTable // one table of every device's values (.csv or .jsonl)
};

// What the demo's steps see: the simulator, the demo's files and what earlier steps answered.
struct DemoContext
{
    const devicesim::Simulator *pSimulator = nullptr;
    QString sOutputDir;
    QString sFirmwarePath;
    QHash<QString, Outcome> hLatest; // by key()

    static QString key(const DeviceEntry &device, const QString &sCommand)
    {
        return device.sId + '/' + sCommand;
    }
    Outcome latest(const DeviceEntry &device, const QString &sCommand) const
    {
        return hLatest.value(key(device, sCommand));
    }
    void remember(const Outcome &outcome);
};

// One device command, described once: its name on the command line, the plugin's command, its arguments,
// how its request is planned, how its answer is kept and shown, and its step in the demo.
struct CommandSpec
{
    QString sName;    // "info"
    QString sApiName; // "API_CMD_GET_CONFIG"
    QString sArgs;    // "NAME RESOLUTION START END", for help and usage errors
    int iMinArgs;
    int iMaxArgs;
    QString sHelp;
    OutputUse output = OutputUse::None;
    bool bUploads = false;  // sends a local file
    bool bVerifies = false; // --verify and --canary apply: the device must come back with a new version
    // Checks the arguments and local files for one device and fills lParam and sOutputFile; false with a
    // one-line message. Null: the command takes nothing to check.
    std::function<bool(const PlanInput &, PlannedRequest *, QString *)> plan = nullptr;
    // The successful answer as readable fields.
    std::function<Fields(const Outcome &)> describe = nullptr;
    // Keeps what the answer carries (writes the snapshot); returns what went wrong. Null: nothing to keep.
    std::function<QString(const Outcome &)> keep = nullptr;
    // The demo: the arguments for one device, then the check of the effect on the simulated device (what is
    // wrong, or nothing). Null: no arguments; the answer alone counts.
    std::function<QStringList(const DemoContext &, const DeviceEntry &)> demoArgs = nullptr;
    std::function<QString(const DemoContext &, const Outcome &)> demoCheck = nullptr;
};

// The ten device commands in the order of the help text and the demo.
const QList<CommandSpec> &commandTable();
// Finds a command by its readable name or by its plugin command name; null when there is none.
const CommandSpec *findCommand(const QString &sName);
// Checks the number of arguments; false with a one-line message.
bool checkArgumentCount(const CommandSpec &spec, int iCount, QString *psError);

#endif // KESTROLCTL_COMMANDS_H
