#include "options.h"

#include "commands.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

// Long enough for a firmware image over a slow link; the plugin ends silent transfers well before.
constexpr int iDefaultTimeoutSeconds = 3600;

QString helpEpilogue()
{
    QString sText = QStringLiteral("\nCommands (the plugin's API_CMD_* names are accepted too):\n");
    for (const CommandEntry &entry : commandTable()) {
        const QString sUsage = (entry.sName + ' ' + entry.sArgs).trimmed();
        sText += QStringLiteral("  %1 %2\n      %3\n").arg(sUsage, -38).arg(entry.sApiName, entry.sHelp);
    }
    sText += QStringLiteral(
        "  plugin-info\n"
        "      show the loaded plugin and its commands (no device needed)\n"
        "  demo\n"
        "      run all ten commands against simulated devices in this process; --devices N: N devices\n"
        "      at once; -o DIR: directory for the demo's files (default: a new temporary directory)\n"
        "\n"
        "Password: --password, else the environment variable KESTROL_PASSWORD, else a prompt without echo\n"
        "when the terminal is interactive.\n"
        "\n"
        "Device file (--devices FILE): one device per line as \"id,url,user,password\". Lines starting\n"
        "with '#' and blank lines are skipped; a field may be double-quoted (\"\" is a quote inside it).\n"
        "An empty or missing user or password takes --user or the password above.\n"
        "\n"
        "Exit status:\n"
        "  0  every device answered with code 0\n"
        "  1  a device answered with code 103 (any failure other than credentials), or a result could\n"
        "     not be written\n"
        "  2  usage error or bad input; nothing was sent\n"
        "  3  a device refused the credentials (code 101)\n"
        "  4  no answer within --timeout\n"
        "  5  the plugin could not be loaded\n"
        "When devices fail in different ways, the highest of these values is returned.\n");
    return sText;
}

bool parseTimeout(const QString &sValue, int *piMs)
{
    bool bOk = false;
    const double dSeconds = sValue.toDouble(&bOk);
    if (!bOk || dSeconds <= 0 || dSeconds > 86400)
        return false;
    *piMs = qMax(1, int(dSeconds * 1000));
    return true;
}

} // namespace

ParseOutcome parseCommandLine(const QStringList &lArguments, CliOptions *pOptions, QString *psText)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Drives cameras and recorders through the device-API plugin, as a host application "
                       "does.\n\n"
                       "  kestrolctl --url URL --user USER [--password PASS] COMMAND [ARGS]\n"
                       "  kestrolctl --devices FILE COMMAND [ARGS]\n"
                       "  kestrolctl demo [--devices N]"));
    const QCommandLineOption help({"h", "help"}, QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version and exit."));
    const QCommandLineOption url(QStringLiteral("url"),
                                 QStringLiteral("Base URL of the device, e.g. https://192.0.2.10"),
                                 QStringLiteral("URL"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("User name on the device."),
                                  QStringLiteral("USER"));
    const QCommandLineOption password(QStringLiteral("password"),
                                      QStringLiteral("Password (see below for safer ways)."),
                                      QStringLiteral("PASS"));
    const QCommandLineOption devices(QStringLiteral("devices"),
                                     QStringLiteral("Run the command on every device of FILE at once "
                                                    "(format below); with demo: the number of devices."),
                                     QStringLiteral("FILE|N"));
    const QCommandLineOption output({"o", "output"},
                                    QStringLiteral("snapshot: file or directory for the JPEG; demo: "
                                                   "directory for the demo's files."),
                                    QStringLiteral("PATH"));
    const QCommandLineOption plugin(
        QStringLiteral("plugin"),
        QStringLiteral("Plugin module (file or directory) to load instead of the one installed with "
                       "kestrolctl."),
        QStringLiteral("PATH"));
    const QCommandLineOption timeout(
        QStringLiteral("timeout"),
        QStringLiteral("Seconds to wait for the answers (default %1).").arg(iDefaultTimeoutSeconds),
        QStringLiteral("SECONDS"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("One JSON object per answer on standard output."));
    const QCommandLineOption verbose({"v", "verbose"},
                                     QStringLiteral("Show the plugin's log lines, with time stamps, on "
                                                    "standard error."));
    parser.addOptions({help, version, url, user, password, devices, output, plugin, timeout, json, verbose});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("What to do (see Commands)."),
                                 QStringLiteral("COMMAND [ARGS...]"));

    if (!parser.parse(lArguments)) {
        *psText = parser.errorText();
        return ParseOutcome::Error;
    }
    if (parser.isSet(help)) {
        *psText = parser.helpText() + helpEpilogue();
        return ParseOutcome::Help;
    }
    if (parser.isSet(version)) {
        *psText = QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                QCoreApplication::applicationVersion());
        return ParseOutcome::Version;
    }

    const QStringList lPositional = parser.positionalArguments();
    if (lPositional.isEmpty()) {
        *psText = QStringLiteral("no command given; see kestrolctl --help");
        return ParseOutcome::Error;
    }
    pOptions->sCommand = lPositional.first();
    pOptions->lArgs = lPositional.mid(1);
    pOptions->sUrl = parser.value(url);
    pOptions->sUser = parser.value(user);
    pOptions->bPasswordGiven = parser.isSet(password);
    pOptions->sPassword = parser.value(password);
    pOptions->sDevices = parser.value(devices);
    pOptions->sPlugin = parser.value(plugin);
    pOptions->sOutput = parser.value(output);
    pOptions->bJson = parser.isSet(json);
    pOptions->bVerbose = parser.isSet(verbose);
    pOptions->iTimeoutMs = iDefaultTimeoutSeconds * 1000;
    if (parser.isSet(timeout) && !parseTimeout(parser.value(timeout), &pOptions->iTimeoutMs)) {
        *psText =
            QStringLiteral("--timeout '%1': give a number of seconds above 0").arg(parser.value(timeout));
        return ParseOutcome::Error;
    }
    return ParseOutcome::Run;
}
