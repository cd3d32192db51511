#include "commandrun.h"

#include "commands.h"
#include "console.h"
#include "credentials.h"
#include "deviceapiinterface.h"
#include "devicelist.h"
#include "exitcodes.h"
#include "exports.h"
#include "options.h"
#include "pluginhost.h"
#include "reporter.h"
#include "runner.h"
#include "trust.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

int usageError(Console *pConsole, const QString &sMessage)
{
    pConsole->err(QStringLiteral("kestrolctl: %1\n").arg(sMessage));
    return exitcode::Usage;
}

// Options that belong to one command, or to one way of naming devices.
bool checkOptionUse(const CliOptions &options, const CommandSpec &spec, QString *psError)
{
    if (options.bVerify && !spec.bVerifies)
        *psError = QStringLiteral("--verify and --canary apply to firmware-update only");
    else if (options.bAllCounters && spec.output != OutputUse::CounterTable)
        *psError = QStringLiteral("--all applies to counter only");
    else if (!options.sOutput.isEmpty() && spec.output == OutputUse::None)
        *psError = QStringLiteral(
            "-o applies to snapshot and counter only (settings-save takes DEST as its argument)");
    else if (!options.sPin.isEmpty() && options.sUrl.isEmpty())
        *psError = QStringLiteral("--pin goes with --url; a device file has a pin column");
    else if (!options.sOutput.isEmpty() && spec.output == OutputUse::CounterTable)
        checkTableFile(options.sOutput, {"csv", "jsonl"}, "-o", psError);
    if (psError->isEmpty() && !options.sReport.isEmpty())
        checkTableFile(options.sReport, {"csv", "json"}, "--report", psError);
    return psError->isEmpty();
}

// The devices named on the command line, with their users filled in, and the prompt for a password they
// lack; false with a message.
bool collectDevices(const CliOptions &options, QList<DeviceEntry> *plDevices, QString *psPrompt,
                    QString *psError)
{
    if (options.sUrl.isEmpty() == options.sDevices.isEmpty()) {
        *psError = options.sUrl.isEmpty() ? QStringLiteral("give --url URL or --devices FILE")
                                          : QStringLiteral("give either --url or --devices, not both");
        return false;
    }
    if (!options.sUrl.isEmpty()) {
        DeviceEntry device;
        device.sUrl = normalizedDeviceUrl(options.sUrl, psError);
        if (device.sUrl.isEmpty())
            return false;
        if (!options.sPin.isEmpty() &&
            (device.sPin = normalizedPin(options.sPin, device.sUrl, psError)).isEmpty())
            return false;
        device.sId = deviceIdFromUrl(device.sUrl);
        plDevices->append(device);
        *psPrompt = QStringLiteral("Password for %1 on %2: ").arg(options.sUser, device.sId);
    } else {
        if (!readDeviceFile(options.sDevices, plDevices, psError))
            return false;
        *psPrompt = QStringLiteral("Password for the devices of %1 without one: ").arg(options.sDevices);
    }

    for (DeviceEntry &device : *plDevices) {
        if (device.sUser.isEmpty())
            device.sUser = options.sUser;
        // A device with no user would only answer 101; that is a mistake on the command line.
        if (device.sUser.isEmpty()) {
            *psError = QStringLiteral("device '%1' has no user: give --user or a user in the device file")
                           .arg(device.sId);
            return false;
        }
    }
    return true;
}

// Asked for last, so that nobody types a password for a command line that is refused anyway.
bool fillPasswords(const CliOptions &options, const QString &sPrompt, QList<PlannedRequest> *plRequests,
                   QString *psError)
{
    const bool bNeeded =
        std::any_of(plRequests->cbegin(), plRequests->cend(),
                    [](const PlannedRequest &request) { return request.device.sPassword.isEmpty(); });
    QString sPassword;
    if (bNeeded && !resolvePassword(options, sPrompt, &sPassword, psError))
        return false;
    for (PlannedRequest &request : *plRequests) {
        if (request.device.sPassword.isEmpty())
            request.device.sPassword = sPassword;
    }
    return true;
}

bool planRequests(const CliOptions &options, const CommandSpec &spec, const QList<DeviceEntry> &lDevices,
                  QList<PlannedRequest> *plRequests, QString *psError)
{
    PlanInput input;
    input.lArgs = options.lArgs;
    if (options.bAllCounters)
        input.lArgs.prepend(QString());
    input.sOutput = spec.output == OutputUse::Image ? options.sOutput : QString();
    input.bSeveral = lDevices.size() > 1;
    input.sStamp = fileTimeStamp();
    input.bAllCounters = options.bAllCounters;
    if (!checkArgumentCount(spec, input.lArgs.size(), psError))
        return false;
    for (const DeviceEntry &device : lDevices) {
        PlannedRequest request;
        request.device = device;
        request.pSpec = &spec;
        if (spec.plan && !spec.plan(input, &request, psError))
            return false;
        plRequests->append(request);
    }
    return checkDistinctOutputs(*plRequests, psError);
}

} // namespace

int runDeviceCommand(const CliOptions &options, Console *pConsole)
{
    const CommandSpec *pSpec = findCommand(options.sCommand);
    if (!pSpec)
        return usageError(
            pConsole, QStringLiteral("unknown command '%1'; see kestrolctl --help").arg(options.sCommand));
    QString sError;
    QList<DeviceEntry> lDevices;
    QString sPrompt;
    QList<PlannedRequest> lRequests;
    KnownDevices knownDevices;
    if (!checkOptionUse(options, *pSpec, &sError) || !collectDevices(options, &lDevices, &sPrompt, &sError) ||
        !planRequests(options, *pSpec, lDevices, &lRequests, &sError) ||
        (!options.sKnownDevices.isEmpty() && !knownDevices.load(options.sKnownDevices, &sError)) ||
        !fillPasswords(options, sPrompt, &lRequests, &sError))
        return usageError(pConsole, sError);
    if (options.bPasswordGiven && !options.bQuiet)
        pConsole->err(QStringLiteral("kestrolctl: warning: --password shows in the process list; prefer "
                                     "--password-file, --password-stdin or KESTROL_PASSWORD\n"));

    PluginHost host;
    if (!host.load(options.sPlugin, &sError)) {
        pConsole->err(QStringLiteral("kestrolctl: %1\n").arg(sError));
        return exitcode::PluginLoad;
    }
    RunSettings settings;
    settings.job.iRetries = options.iRetries;
    settings.job.bVerify = options.bVerify;
    settings.job.iRebootTimeoutMs = options.iRebootTimeoutMs;
    settings.job.bAllCounters = options.bAllCounters;
    settings.job.pKnownDevices = options.sKnownDevices.isEmpty() ? nullptr : &knownDevices;
    settings.iParallel = options.iParallel;
    settings.iCanary = options.iCanary;
    settings.iTimeoutMs = options.iTimeoutMs;

    const bool bSeveral = lDevices.size() > 1;
    Reporter::Settings reporting;
    reporting.style = options.bJson ? Reporter::Style::Json
                      : bSeveral    ? Reporter::Style::Table
                                    : Reporter::Style::Fields;
    reporting.bVerbose = options.bVerbose;
    reporting.bQuiet = options.bQuiet;
    reporting.bSeveral = bSeveral;
    Reporter reporter(pConsole, reporting);
    int iIdWidth = 0;
    for (const DeviceEntry &device : qAsConst(lDevices))
        iIdWidth = qMax(iIdWidth, int(device.sId.size()));
    reporter.setDeviceColumnWidth(iIdWidth);
    reporter.setProgressLabel(pSpec->sName);
    Runner runner(&host, settings);
    reporter.watch(&runner);
    QElapsedTimer elapsed;
    elapsed.start();
    const QList<Outcome> lOutcomes = runner.run(lRequests);
    if (bSeveral)
        reporter.printSummary(lOutcomes, elapsed.elapsed());

    int iStatus = exitcode::Ok;
    for (const Outcome &outcome : lOutcomes)
        iStatus = qMax(iStatus, exitStatusOf(outcome));
    const bool bTable = !options.sOutput.isEmpty() && pSpec->output == OutputUse::CounterTable;
    if ((bTable && !writeCounterTable(options.sOutput, lOutcomes, &sError)) ||
        (!options.sReport.isEmpty() && !writeReport(options.sReport, lOutcomes, &sError))) {
        pConsole->err(QStringLiteral("kestrolctl: %1\n").arg(sError));
        iStatus = qMax(iStatus, exitcode::Failed);
    }
    return iStatus;
}

int runPluginInfo(const CliOptions &options, Console *pConsole)
{
    if (!options.lArgs.isEmpty())
        return usageError(pConsole, QStringLiteral("plugin-info takes no arguments"));
    PluginHost host;
    QString sError;
    if (!host.load(options.sPlugin, &sError)) {
        pConsole->err(QStringLiteral("kestrolctl: %1\n").arg(sError));
        return exitcode::PluginLoad;
    }
    DeviceApiInterface *pApi = host.api();
    if (options.bJson) {
        const QJsonObject object{{"module", host.modulePath()},
                                 {"className", host.className()},
                                 {"name", pApi->getPluginName()},
                                 {"version", pApi->getVersion()},
                                 {"apiVersion", pApi->getApiVersion()},
                                 {"deviceType", pApi->getVesoDeviceType()},
                                 {"commands", QJsonArray::fromStringList(pApi->getCommandList())}};
        pConsole->out(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + '\n');
        return exitcode::Ok;
    }
    pConsole->out(QStringLiteral("module:      %1\n"
                                 "class:       %2\n"
                                 "name:        %3\n"
                                 "version:     %4 (API %5, device type %6)\n"
                                 "commands:    %7\n")
                      .arg(host.modulePath(), host.className(), pApi->getPluginName(), pApi->getVersion(),
                           pApi->getApiVersion(), pApi->getVesoDeviceType(),
                           pApi->getCommandList().join(QStringLiteral("\n             "))));
    return exitcode::Ok;
}
