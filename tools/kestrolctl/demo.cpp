#include "demo.h"

#include "commands.h"
#include "console.h"
#include "exitcodes.h"
#include "options.h"
#include "pluginhost.h"
#include "reporter.h"
#include "runner.h"

#include "devicesim.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTemporaryFile>

namespace {

constexpr int iMaxDevices = 32;
constexpr qint64 iFirmwareBytes = 8 * 1024 * 1024;

// A few MiB of noise, enough for the upload to show its progress.
bool writeFirmwareImage(QTemporaryFile *pFile)
{
    if (!pFile->open())
        return false;
    QByteArray baChunk(64 * 1024, Qt::Uninitialized);
    for (qint64 iWritten = 0; iWritten < iFirmwareBytes; iWritten += baChunk.size()) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(baChunk.data()),
                                              baChunk.size() / int(sizeof(quint32)));
        if (pFile->write(baChunk) != baChunk.size())
            return false;
    }
    return pFile->flush();
}

class Demo
{
public:
    Demo(const CliOptions &options, Console *pConsole) : options(options), pConsole(pConsole) {}
    int run();

private:
    void say(const QString &sText);
    // Returns the exit status that the step alone calls for.
    int runStep(int iNumber, const CommandSpec &spec);

    const CliOptions &options;
    Console *pConsole;
    devicesim::Simulator simulator{devicesim::Simulator::Options{true, 0, 16}};
    PluginHost host;
    QList<DeviceEntry> lDevices;
    DemoContext context;
};

void Demo::say(const QString &sText)
{
    // With --json standard output carries only the answers.
    if (options.bJson)
        pConsole->err(sText + '\n');
    else
        pConsole->out(sText + '\n');
}

int Demo::runStep(int iNumber, const CommandSpec &spec)
{
    Reporter::Settings settings;
    settings.style = options.bJson ? Reporter::Style::Json : Reporter::Style::Table;
    settings.bVerbose = options.bVerbose;
    settings.bSeveral = lDevices.size() > 1;
    Reporter reporter(pConsole, settings);
    int iIdWidth = 0;
    for (const DeviceEntry &device : qAsConst(lDevices))
        iIdWidth = qMax(iIdWidth, int(device.sId.size()));
    reporter.setDeviceColumnWidth(iIdWidth);
    reporter.setProgressLabel(spec.sName);

    PlanInput input{{}, context.sOutputDir, true, fileTimeStamp(), false};
    QList<PlannedRequest> lRequests;
    QStringList lSkipped;
    QStringList lShownArgs;
    for (const DeviceEntry &device : qAsConst(lDevices)) {
        input.lArgs = spec.demoArgs ? spec.demoArgs(context, device) : QStringList();
        PlannedRequest request;
        request.device = device;
        request.pSpec = &spec;
        QString sError;
        if (!checkArgumentCount(spec, input.lArgs.size(), &sError) ||
            (spec.plan && !spec.plan(input, &request, &sError)))
            lSkipped.append(QStringLiteral("%1  skipped: %2").arg(device.sId, -iIdWidth).arg(sError));
        else
            lRequests.append(request);
        if (lShownArgs.isEmpty())
            lShownArgs = input.lArgs;
    }
    for (QString &sArg : lShownArgs) {
        if (sArg.contains(' '))
            sArg = '"' + sArg + '"';
    }
    lShownArgs.prepend(spec.sName);
    say(QStringLiteral("\n[%1/%2] %3  (%4)")
            .arg(iNumber)
            .arg(commandTable().size())
            .arg(lShownArgs.join(' '), spec.sApiName));
    for (const QString &sLine : qAsConst(lSkipped))
        say(sLine);
    int iStatus = lSkipped.isEmpty() ? exitcode::Ok : exitcode::Failed;

    RunSettings run;
    run.iParallel = options.iParallel;
    run.iTimeoutMs = options.iTimeoutMs;
    Runner runner(&host, run);
    reporter.watchProgress(&runner);
    const QList<Outcome> lOutcomes = runner.run(lRequests);
    for (Outcome outcome : lOutcomes) {
        if (outcome.status == Status::Ok && spec.demoCheck) {
            const QString sProblem = spec.demoCheck(context, outcome);
            if (!sProblem.isEmpty()) {
                outcome.status = Status::Failed;
                outcome.sReason = QStringLiteral("check failed: %1").arg(sProblem);
            }
        }
        iStatus = qMax(iStatus, exitStatusOf(outcome));
        context.remember(outcome);
        reporter.printOutcome(outcome);
    }
    return iStatus;
}

int Demo::run()
{
    int iDevices = 1;
    if (!options.sDevices.isEmpty()) {
        bool bOk = false;
        iDevices = options.sDevices.toInt(&bOk);
        if (!bOk || iDevices < 1 || iDevices > iMaxDevices) {
            pConsole->err(
                QStringLiteral("kestrolctl: demo --devices takes a number from 1 to %1\n").arg(iMaxDevices));
            return exitcode::Usage;
        }
    }
    if (!options.sUrl.isEmpty() || !options.lArgs.isEmpty()) {
        pConsole->err(QStringLiteral(
            "kestrolctl: demo runs its own simulated devices; it takes no URL or arguments\n"));
        return exitcode::Usage;
    }
    if (options.sOutput.isEmpty()) {
        QTemporaryDir tempDir(QDir::temp().absoluteFilePath(QStringLiteral("kestrol-demo-XXXXXX")));
        tempDir.setAutoRemove(false);
        context.sOutputDir = tempDir.path();
    } else if (QDir().mkpath(options.sOutput)) {
        context.sOutputDir = QDir(options.sOutput).absolutePath();
    }
    if (context.sOutputDir.isEmpty()) {
        pConsole->err(
            QStringLiteral("kestrolctl: cannot create the output directory %1\n").arg(options.sOutput));
        return exitcode::Usage;
    }

    QString sError;
    if (!host.load(options.sPlugin, &sError)) {
        pConsole->err(QStringLiteral("kestrolctl: %1\n").arg(sError));
        return exitcode::PluginLoad;
    }
    if (!simulator.start()) {
        pConsole->err(QStringLiteral("kestrolctl: the device simulator cannot listen on 127.0.0.1: %1\n")
                          .arg(simulator.errorString()));
        return exitcode::Failed;
    }
    context.pSimulator = &simulator;
    QTemporaryFile firmware(QDir(context.sOutputDir).absoluteFilePath(QStringLiteral("firmware-XXXXXX.bin")));
    if (!writeFirmwareImage(&firmware)) {
        pConsole->err(
            QStringLiteral("kestrolctl: cannot write a firmware image into %1\n").arg(context.sOutputDir));
        return exitcode::Failed;
    }
    context.sFirmwarePath = firmware.fileName();

    say(QStringLiteral("kestrolctl demo: %1 simulated device%2 on this machine, HTTPS with a self-signed "
                       "certificate and Digest authentication")
            .arg(iDevices)
            .arg(iDevices == 1 ? "" : "s"));
    for (int i = 1; i <= iDevices; ++i) {
        devicesim::DeviceConfig config;
        config.auth = devicesim::AuthMode::Digest;
        config.password =
            QStringLiteral("demo-%1").arg(QRandomGenerator::global()->generate(), 8, 16, QChar('0'));
        DeviceEntry device{QStringLiteral("demo-%1").arg(i), QString(), config.user, config.password,
                           QString()};
        device.sUrl = simulator.addDevice(device.sId, config);
        lDevices.append(device);
        say(QStringLiteral("  %1  %2  user %3").arg(device.sId, device.sUrl, device.sUser));
    }
    say(QStringLiteral("plugin: %1\nfiles:  %2").arg(host.modulePath(), context.sOutputDir));

    QElapsedTimer elapsed;
    elapsed.start();
    int iSucceeded = 0;
    int iStatus = exitcode::Ok;
    for (int i = 0; i < commandTable().size(); ++i) {
        const int iStepStatus = runStep(i + 1, commandTable().at(i));
        iSucceeded += iStepStatus == exitcode::Ok ? 1 : 0;
        iStatus = qMax(iStatus, iStepStatus);
    }

    say(QStringLiteral("\n%1 of %2 commands succeeded on %3 device%4 in %5 s.")
            .arg(iSucceeded)
            .arg(commandTable().size())
            .arg(iDevices)
            .arg(iDevices == 1 ? "" : "s")
            .arg(elapsed.elapsed() / 1000.0, 0, 'f', 1));
    say(QStringLiteral("Files written to %1:").arg(context.sOutputDir));
    const QFileInfoList lFiles = QDir(context.sOutputDir).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo &info : lFiles) {
        if (info.absoluteFilePath() != QFileInfo(context.sFirmwarePath).absoluteFilePath())
            say(QStringLiteral("  %1 (%2 bytes)").arg(info.fileName()).arg(info.size()));
    }
    return iStatus;
}

} // namespace

int runDemo(const CliOptions &options, Console *pConsole)
{
    Demo demo(options, pConsole);
    return demo.run();
}
