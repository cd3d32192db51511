#ifndef KESTROLCTL_OPTIONS_H
#define KESTROLCTL_OPTIONS_H

#include <QString>
#include <QStringList>

// Devices in flight at once unless --parallel says otherwise: a fleet of 500 answers "info" in a few
// seconds, and no more than this many uploads share a site's uplink.
constexpr int iDefaultParallel = 32;

// The command line, parsed but not yet checked against the command it names.
struct CliOptions
{
    QString sCommand;  // first positional argument
    QStringList lArgs; // the command's own arguments
    QString sUrl;
    QString sUser;
    QString sPassword;
    bool bPasswordGiven = false;
    QString sPasswordFile;
    bool bPasswordStdin = false;
    QString sDevices; // --devices: a device file, or the number of simulated devices for "demo"
    QString sPin;
    QString sKnownDevices;
    QString sPlugin;
    QString sOutput; // -o
    QString sReport;
    bool bAllCounters = false;
    bool bJson = false;
    bool bVerbose = false;
    bool bQuiet = false;
    bool bNoProgress = false;
    bool bVerify = false;
    int iCanary = 0;
    int iParallel = iDefaultParallel;
    int iRetries = 0;
    int iTimeoutMs = 0;
    int iRebootTimeoutMs = 0;
};

enum class ParseOutcome
{
    Run,
    Help,
    Version,
    Error
};

// Parses the arguments (argv including the program name). With Help and Version *psText holds what to
// print; with Error it holds a one-line message.
ParseOutcome parseCommandLine(const QStringList &lArguments, CliOptions *pOptions, QString *psText);

#endif // KESTROLCTL_OPTIONS_H
