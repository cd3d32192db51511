#include "demo.h"

#include "batch.h"
#include "commands.h"
#include "console.h"
#include "deviceapiinterface.h"
#include "devicesim.h"
#include "exitcodes.h"
#include "options.h"
#include "pluginhost.h"
#include "reporter.h"
#include "requestplan.h"
#include "results.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <functional>

namespace {

constexpr int iMaxDevices = 32;
constexpr qint64 iFirmwareBytes = 8 * 1024 * 1024;
constexpr int iSnapshotChannel = 1;

struct DemoStep
{
    QString sCommand;
    // The command's arguments for one device, from the outcomes of the earlier steps.
    std::function<QStringList(const DeviceEntry &)> arguments;
    // Checks the effect on the simulated device; returns what is wrong, or nothing.
    std::function<QString(const Outcome &)> check;
};

QByteArray fileBytes(const QString &sPath)
{
    QFile file(sPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray sha256Hex(const QString &sPath)
{
    return QCryptographicHash::hash(fileBytes(sPath), QCryptographicHash::Sha256).toHex();
}

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
    QList<DemoStep> steps();
    // Returns the exit status that the step alone calls for.
    int runStep(int iNumber, int iCount, const DemoStep &step);

    const CliOptions &options;
    Console *pConsole;
    devicesim::Simulator simulator{devicesim::Simulator::Options{true, 0, 16}};
    PluginHost host;
    QList<DeviceEntry> lDevices;
    QString sOutputDir;
    QString sFirmwarePath;
    // Outcome of the latest step per device and command, for the arguments of later steps.
    QHash<QString, Outcome> hLatest;
};

void Demo::say(const QString &sText)
{
    // With --json standard output carries only the answers.
    if (options.bJson)
        pConsole->err(sText + '\n');
    else
        pConsole->out(sText + '\n');
}

QList<DemoStep> Demo::steps()
{
    const QString sToday = QDate::currentDate().toString(Qt::ISODate);
    auto none = [](const DeviceEntry &) { return QStringList(); };
    auto latest = [this](const DeviceEntry &device, const QString &sCommand) {
        return hLatest.value(device.sId + '/' + sCommand);
    };
    auto pass = [](const Outcome &) { return QString(); };
    return {
        {"login-check", none, pass},
        {"info", none,
         [](const Outcome &outcome) {
             return outcome.lResult.value(0).toMap().value("API_FW").toString().isEmpty()
                        ? QStringLiteral("no firmware version in the answer")
                        : QString();
         }},
        {"counters", none, pass},
        {"counter",
         [=](const DeviceEntry &device) {
             const QString sName = latest(device, "counters").lResult.value(0).toString();
             return QStringList{sName, "3600", sToday + " 00:00:00", sToday + " 23:59:59"};
         },
         pass},
        {"snapshot", [](const DeviceEntry &) { return QStringList{QString::number(iSnapshotChannel)}; },
         [this](const Outcome &outcome) {
             return fileBytes(outcome.request.sOutputFile) == simulator.snapshotJpeg(iSnapshotChannel)
                        ? QString()
                        : QStringLiteral("the saved JPEG differs from the device's image");
         }},
        {"settings-save", [this](const DeviceEntry &) { return QStringList{sOutputDir}; },
         [this](const Outcome &outcome) {
             return fileBytes(outcome.lResult.value(0).toString()) ==
                            simulator.settings(outcome.request.device.sId)
                        ? QString()
                        : QStringLiteral("the backup differs from the device's settings");
         }},
        {"settings-load",
         [=](const DeviceEntry &device) {
             return QStringList{latest(device, "settings-save").lResult.value(0).toString()};
         },
         [this](const Outcome &outcome) {
             return simulator.settings(outcome.request.device.sId) ==
                            fileBytes(outcome.request.lParam.value(0).toString())
                        ? QString()
                        : QStringLiteral("the device holds other settings than the file");
         }},
        {"firmware-update", [this](const DeviceEntry &) { return QStringList{sFirmwarePath}; },
         [this](const Outcome &outcome) {
             return simulator.firmware(outcome.request.device.sId).sha256Hex == sha256Hex(sFirmwarePath)
                        ? QString()
                        : QStringLiteral("the device received another image");
         }},
        {"restart", none,
         [this](const Outcome &outcome) {
             return simulator.rebootCount(outcome.request.device.sId) == 1
                        ? QString()
                        : QStringLiteral("the device did not reboot");
         }},
        {"reset", none,
         [this](const Outcome &outcome) {
             return simulator.factoryResetCount(outcome.request.device.sId) == 1
                        ? QString()
                        : QStringLiteral("the device was not reset");
         }},
    };
}

int Demo::runStep(int iNumber, int iCount, const DemoStep &step)
{
    const CommandEntry &entry = *findCommand(step.sCommand);
    Reporter reporter(pConsole, options.bJson ? Reporter::Style::Json : Reporter::Style::Table,
                      options.bVerbose, options.iTimeoutMs);
    int iIdWidth = 0;
    for (const DeviceEntry &device : qAsConst(lDevices))
        iIdWidth = qMax(iIdWidth, device.sId.size());
    reporter.setDeviceColumnWidth(iIdWidth);
    reporter.setProgressLabel(entry.sName);

    QList<PlannedRequest> lRequests;
    QStringList lSkipped;
    QStringList lShownArgs;
    for (const DeviceEntry &device : qAsConst(lDevices)) {
        const QStringList lArgs = step.arguments(device);
        const QString sOutput = entry.sApiName == "API_CMD_SNAPSHOT" ? sOutputDir : QString();
        PlannedRequest request;
        QString sError;
        if (planRequest(entry, lArgs, sOutput, device, true, &request, &sError))
            lRequests.append(request);
        else
            lSkipped.append(QStringLiteral("%1  skipped: %2").arg(device.sId, -iIdWidth).arg(sError));
        if (lShownArgs.isEmpty())
            lShownArgs = lArgs;
    }
    for (QString &sArg : lShownArgs) {
        if (sArg.contains(' '))
            sArg = '"' + sArg + '"';
    }
    lShownArgs.prepend(entry.sName);
    say(QStringLiteral("\n[%1/%2] %3  (%4)")
            .arg(iNumber)
            .arg(iCount)
            .arg(lShownArgs.join(' '), entry.sApiName));
    for (const QString &sLine : qAsConst(lSkipped))
        say(sLine);
    int iStatus = lSkipped.isEmpty() ? exitcode::Ok : exitcode::Failed;

    Batch batch(&host);
    reporter.watchProgress(&batch);
    QList<Outcome> lOutcomes = batch.run(lRequests, options.iTimeoutMs);
    pConsole->clearProgress();
    for (Outcome &outcome : lOutcomes) {
        if (exitStatusOf(outcome) == exitcode::Ok) {
            const QString sProblem = step.check(outcome);
            if (!sProblem.isEmpty())
                outcome.sLocalError = QStringLiteral("check failed: %1").arg(sProblem);
        }
        iStatus = qMax(iStatus, exitStatusOf(outcome));
        hLatest.insert(outcome.request.device.sId + '/' + entry.sName, outcome);
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
        sOutputDir = tempDir.path();
    } else if (QDir().mkpath(options.sOutput)) {
        sOutputDir = QDir(options.sOutput).absolutePath();
    }
    if (sOutputDir.isEmpty()) {
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
        pConsole->err(QStringLiteral("kestrolctl: the device simulator cannot listen on 127.0.0.1\n"));
        return exitcode::Failed;
    }
    QTemporaryFile firmware(QDir(sOutputDir).absoluteFilePath(QStringLiteral("firmware-XXXXXX.bin")));
    if (!writeFirmwareImage(&firmware)) {
        pConsole->err(QStringLiteral("kestrolctl: cannot write a firmware image into %1\n").arg(sOutputDir));
        return exitcode::Failed;
    }
    sFirmwarePath = firmware.fileName();

    say(QStringLiteral("kestrolctl demo: %1 simulated device%2 on this machine, HTTPS with a self-signed "
                       "certificate and Digest authentication")
            .arg(iDevices)
            .arg(iDevices == 1 ? "" : "s"));
    for (int i = 1; i <= iDevices; ++i) {
        devicesim::DeviceConfig config;
        config.auth = devicesim::AuthMode::Digest;
        config.password =
            QStringLiteral("demo-%1").arg(QRandomGenerator::global()->generate(), 8, 16, QChar('0'));
        DeviceEntry device{QStringLiteral("demo-%1").arg(i), QString(), config.user, config.password};
        device.sUrl = simulator.addDevice(device.sId, config);
        host.api()->createDevice(device.sId, device.sUrl, device.sUser, device.sPassword, {"camera"});
        lDevices.append(device);
        say(QStringLiteral("  %1  %2  user %3").arg(device.sId, device.sUrl, device.sUser));
    }
    say(QStringLiteral("plugin: %1\nfiles:  %2").arg(host.modulePath(), sOutputDir));

    QElapsedTimer elapsed;
    elapsed.start();
    const QList<DemoStep> lSteps = steps();
    int iSucceeded = 0;
    int iStatus = exitcode::Ok;
    for (int i = 0; i < lSteps.size(); ++i) {
        const int iStepStatus = runStep(i + 1, lSteps.size(), lSteps.at(i));
        iSucceeded += iStepStatus == exitcode::Ok ? 1 : 0;
        iStatus = qMax(iStatus, iStepStatus);
    }

    say(QStringLiteral("\n%1 of %2 commands succeeded on %3 device%4 in %5 s.")
            .arg(iSucceeded)
            .arg(lSteps.size())
            .arg(iDevices)
            .arg(iDevices == 1 ? "" : "s")
            .arg(elapsed.elapsed() / 1000.0, 0, 'f', 1));
    say(QStringLiteral("Files written to %1:").arg(sOutputDir));
    const QFileInfoList lFiles = QDir(sOutputDir).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo &info : lFiles) {
        if (info.absoluteFilePath() != QFileInfo(sFirmwarePath).absoluteFilePath())
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
