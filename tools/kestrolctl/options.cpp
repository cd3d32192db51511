#include "options.h"

#include "helptext.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

// Long enough for a firmware image over a slow link; the plugin ends silent transfers well before.
constexpr int iDefaultTimeoutSeconds = 3600;
constexpr int iDefaultRebootTimeoutSeconds = 300;

bool parseSeconds(const QString &sValue, int *piMs)
{
    bool bOk = false;
    const double dSeconds = sValue.toDouble(&bOk);
    if (!bOk || dSeconds <= 0 || dSeconds > 86400)
        return false;
    *piMs = qMax(1, int(dSeconds * 1000));
    return true;
}

bool parseCount(const QString &sValue, int iMin, int *piCount)
{
    bool bOk = false;
    const int iValue = sValue.toInt(&bOk);
    if (!bOk || iValue < iMin || iValue > 100000)
        return false;
    *piCount = iValue;
    return true;
}

} // namespace

ParseOutcome parseCommandLine(const QStringList &lArguments, CliOptions *pOptions, QString *psText)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Drives cameras and recorders through the device-API plugin, as a host application "
                       "does.\n\n"
                       "  kestrolctl --url URL --user USER COMMAND [ARGS]\n"
                       "  kestrolctl --devices FILE COMMAND [ARGS]\n"
                       "  kestrolctl demo [--devices N]"));
    auto option = [](const QStringList &lNames, const QString &sHelp, const QString &sValue = QString()) {
        return QCommandLineOption(lNames, sHelp, sValue);
    };
    const auto help = option({"h", "help"}, "Show this help and exit.");
    const auto version = option({"version"}, "Show the version and exit.");
    const auto url = option({"url"}, "Base URL of the device, e.g. https://192.0.2.10", "URL");
    const auto user = option({"user"}, "User name on the devices that have none in the device file.", "USER");
    const auto password =
        option({"password"}, "Password (shows in the process list; see Passwords below).", "PASS");
    const auto passwordFile = option(
        {"password-file"}, "Read the password from the first line of FILE (mode 0600 or stricter).", "FILE");
    const auto passwordStdin = option({"password-stdin"}, "Read the password from standard input.");
    const auto devices = option({"devices"},
                                "Run the command on every device of FILE (format below); with demo: the "
                                "number of simulated devices.",
                                "FILE|N");
    const auto pin =
        option({"pin"}, "SHA-256 fingerprint of the device's certificate or public key.", "SHA256");
    const auto knownDevices =
        option({"known-devices"}, "Pin each HTTPS device's certificate on first use in FILE.", "FILE");
    const auto output = option({"o", "output"},
                               "snapshot: file or directory for the JPEG; counter: table file (.csv or "
                               ".jsonl); demo: directory for its files.",
                               "PATH");
    const auto all = option({"all"}, "counter: every counter the device lists, instead of NAME.");
    const auto parallel = option(
        {"parallel"}, QStringLiteral("Devices in flight at once (default %1).").arg(iDefaultParallel), "N");
    const auto retries = option(
        {"retries"}, "Repeat a request that failed in a way worth retrying up to N times (default 0).", "N");
    const auto verify = option({"verify"}, "firmware-update: check that the device comes back with a new "
                                           "firmware version.");
    const auto canary = option({"canary"},
                               "firmware-update: update and verify the first K devices before any other; "
                               "stop if one fails.",
                               "K");
    const auto rebootTimeout =
        option({"reboot-timeout"},
               QStringLiteral("Seconds --verify waits for a device to come back (default %1).")
                   .arg(iDefaultRebootTimeoutSeconds),
               "SECONDS");
    const auto report = option({"report"}, "Write the run to FILE.json or FILE.csv.", "FILE");
    const auto plugin = option(
        {"plugin"}, "Plugin module (file or directory) to load instead of the one installed with kestrolctl.",
        "PATH");
    const auto timeout =
        option({"timeout"},
               QStringLiteral("Seconds to wait for each answer (default %1).").arg(iDefaultTimeoutSeconds),
               "SECONDS");
    const auto json = option({"json"}, "One JSON object per device on standard output.");
    const auto verbose =
        option({"v", "verbose"}, "Show the plugin's log lines, tagged with their device, on standard error.");
    const auto quiet = option({"q", "quiet"}, "Print failures only.");
    const auto noProgress = option({"no-progress"}, "Never draw the progress bar.");
    parser.addOptions({help,          version, url,    user,         password,      passwordFile,
                       passwordStdin, devices, pin,    knownDevices, output,        all,
                       parallel,      retries, verify, canary,       rebootTimeout, report,
                       plugin,        timeout, json,   verbose,      quiet,         noProgress});
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
    CliOptions &o = *pOptions;
    o.sCommand = lPositional.first();
    o.lArgs = lPositional.mid(1);
    o.sUrl = parser.value(url);
    o.sUser = parser.value(user);
    o.bPasswordGiven = parser.isSet(password);
    o.sPassword = parser.value(password);
    o.sPasswordFile = parser.value(passwordFile);
    o.bPasswordStdin = parser.isSet(passwordStdin);
    o.sDevices = parser.value(devices);
    o.sPin = parser.value(pin);
    o.sKnownDevices = parser.value(knownDevices);
    o.sPlugin = parser.value(plugin);
    o.sOutput = parser.value(output);
    o.sReport = parser.value(report);
    o.bAllCounters = parser.isSet(all);
    o.bJson = parser.isSet(json);
    o.bVerbose = parser.isSet(verbose);
    o.bQuiet = parser.isSet(quiet);
    o.bNoProgress = parser.isSet(noProgress);
    o.bVerify = parser.isSet(verify) || parser.isSet(canary);
    o.iTimeoutMs = iDefaultTimeoutSeconds * 1000;
    o.iRebootTimeoutMs = iDefaultRebootTimeoutSeconds * 1000;

    struct Check
    {
        const QCommandLineOption &option;
        bool bValid;
        const char *pcExpected;
    };
    auto isSet = [&](const QCommandLineOption &opt) { return parser.isSet(opt); };
    const Check lChecks[] = {
        {timeout, !isSet(timeout) || parseSeconds(parser.value(timeout), &o.iTimeoutMs),
         "a number of seconds above 0"},
        {rebootTimeout,
         !isSet(rebootTimeout) || parseSeconds(parser.value(rebootTimeout), &o.iRebootTimeoutMs),
         "a number of seconds above 0"},
        {parallel, !isSet(parallel) || parseCount(parser.value(parallel), 1, &o.iParallel),
         "a number from 1 on"},
        {retries, !isSet(retries) || parseCount(parser.value(retries), 0, &o.iRetries), "a number from 0 on"},
        {canary, !isSet(canary) || parseCount(parser.value(canary), 1, &o.iCanary), "a number from 1 on"},
    };
    for (const Check &check : lChecks) {
        if (!check.bValid) {
            *psText =
                QStringLiteral("--%1 '%2': give %3")
                    .arg(check.option.names().constLast(), parser.value(check.option), check.pcExpected);
            return ParseOutcome::Error;
        }
    }
    return ParseOutcome::Run;
}
