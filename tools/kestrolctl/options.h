#ifndef KESTROLCTL_OPTIONS_H
#define KESTROLCTL_OPTIONS_H

#include <QString>
#include <QStringList>

// The command line, parsed but not yet checked against the command it names.
struct CliOptions
{
    QString sCommand;  // first positional argument
    QStringList lArgs; // the command's own arguments
    QString sUrl;
    QString sUser;
    QString sPassword;
    bool bPasswordGiven = false;
    QString sDevices; // --devices: a device file, or the number of simulated devices for "demo"
    QString sPlugin;
    QString sOutput; // -o
    bool bJson = false;
    bool bVerbose = false;
    int iTimeoutMs = 0;
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
