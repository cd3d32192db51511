#include "commandrun.h"

#include "batch.h"
#include "commands.h"
#include "console.h"
#include "deviceapiinterface.h"
#include "devicelist.h"
#include "exitcodes.h"
#include "options.h"
#include "password.h"
#include "pluginhost.h"
#include "reporter.h"
#include "requestplan.h"
#include "results.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

int usageError(Console *pConsole, const QString &sMessage)
{
    pConsole->err(QStringLiteral("kestrolctl: %1\n").arg(sMessage));
    return exitcode::Usage;
}

// The devices named on the command line, with users and passwords filled in; false with a message.
bool collectDevices(const CliOptions &options, QList<DeviceEntry> *plDevices, QString *psError)
{
    if (options.sUrl.isEmpty() == options.sDevices.isEmpty()) {
        *psError = options.sUrl.isEmpty() ? QStringLiteral("give --url URL or --devices FILE")
                                          : QStringLiteral("give either --url or --devices, not both");
        return false;
    }
    QString sPrompt;
    if (!options.sUrl.isEmpty()) {
        DeviceEntry device;
        device.sUrl = normalizedDeviceUrl(options.sUrl, psError);
        if (device.sUrl.isEmpty())
            return false;
        device.sId = deviceIdFromUrl(device.sUrl);
        plDevices->append(device);
        sPrompt = QStringLiteral("Password for %1 on %2: ").arg(options.sUser, device.sId);
    } else {
        if (!readDeviceFile(options.sDevices, plDevices, psError))
            return false;
        sPrompt = QStringLiteral("Password for the devices of %1 without one: ").arg(options.sDevices);
    }

    bool bNeedPassword = false;
    for (DeviceEntry &device : *plDevices) {
        if (device.sUser.isEmpty())
            device.sUser = options.sUser;
        bNeedPassword = bNeedPassword || (device.sPassword.isEmpty() && !device.sUser.isEmpty());
    }
    if (!bNeedPassword)
        return true;
    QString sPassword = options.sPassword;
    if (!options.bPasswordGiven) {
        bool bFound = false;
        sPassword = passwordFromEnvironmentOrPrompt(sPrompt, &bFound);
        if (!bFound) {
            *psError =
                QStringLiteral("no password: give --password, set KESTROL_PASSWORD or run interactively");
            return false;
        }
    }
    for (DeviceEntry &device : *plDevices) {
        if (device.sPassword.isEmpty())
            device.sPassword = sPassword;
    }
    return true;
}

} // namespace

int runDeviceCommand(const CliOptions &options, Console *pConsole)
{
    const CommandEntry *pEntry = findCommand(options.sCommand);
    if (!pEntry)
        return usageError(
            pConsole, QStringLiteral("unknown command '%1'; see kestrolctl --help").arg(options.sCommand));
    QString sError;
    if (!checkArgumentCount(*pEntry, options.lArgs.size(), &sError))
        return usageError(pConsole, sError);
    QList<DeviceEntry> lDevices;
    if (!collectDevices(options, &lDevices, &sError))
        return usageError(pConsole, sError);
    QList<PlannedRequest> lRequests;
    int iIdWidth = 0;
    for (const DeviceEntry &device : qAsConst(lDevices)) {
        PlannedRequest request;
        if (!planRequest(*pEntry, options.lArgs, options.sOutput, device, lDevices.size() > 1, &request,
                         &sError))
            return usageError(pConsole, sError);
        lRequests.append(request);
        iIdWidth = qMax(iIdWidth, device.sId.size());
    }

    PluginHost host;
    if (!host.load(options.sPlugin, &sError)) {
        pConsole->err(QStringLiteral("kestrolctl: %1\n").arg(sError));
        return exitcode::PluginLoad;
    }
    for (const DeviceEntry &device : qAsConst(lDevices))
        host.api()->createDevice(device.sId, device.sUrl, device.sUser, device.sPassword, {});

    const bool bSeveral = lDevices.size() > 1;
    const Reporter::Style style = options.bJson ? Reporter::Style::Json
                                  : bSeveral    ? Reporter::Style::Table
                                                : Reporter::Style::Fields;
    Reporter reporter(pConsole, style, options.bVerbose, options.iTimeoutMs);
    reporter.setDeviceColumnWidth(iIdWidth);
    reporter.setProgressLabel(pEntry->sName);
    Batch batch(&host);
    reporter.watch(&batch);
    QElapsedTimer elapsed;
    elapsed.start();
    const QList<Outcome> lOutcomes = batch.run(lRequests, options.iTimeoutMs);
    reporter.printUnanswered(lOutcomes);
    if (bSeveral)
        reporter.printSummary(lOutcomes, elapsed.elapsed());

    int iStatus = exitcode::Ok;
    for (const Outcome &outcome : lOutcomes)
        iStatus = qMax(iStatus, exitStatusOf(outcome));
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
