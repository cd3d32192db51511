#include "driver.h"

#include "childprocess.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QSysInfo>
#include <QThread>

#include <csignal>
#include <cstdio>

#include <signal.h>

namespace {

// An interrupted benchmark ends its current child and skips the remaining runs, so that the simulators are
// stopped and the temporary files (a 1 GiB image in memory) removed as after a complete run.
volatile sig_atomic_t iInterrupted = 0;
volatile sig_atomic_t iRunningChild = 0;

void onInterrupt(int)
{
    iInterrupted = 1;
    if (iRunningChild > 0)
        kill(pid_t(iRunningChild), SIGKILL);
}

void catchInterrupts()
{
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    for (int iSignal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(iSignal, &action, nullptr);
}

QString cpuModel()
{
    QFile cpuInfo("/proc/cpuinfo");
    if (cpuInfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray &baLine : cpuInfo.readAll().split('\n')) {
            if (baLine.startsWith("model name"))
                return QString::fromLatin1(baLine.mid(baLine.indexOf(':') + 1).trimmed());
        }
    }
    return QStringLiteral("unknown CPU");
}

QString loadAverage()
{
    QFile loadAvg("/proc/loadavg");
    return loadAvg.open(QIODevice::ReadOnly) ? QString::fromLatin1(loadAvg.readAll().left(14).trimmed())
                                             : QStringLiteral("?");
}

} // namespace

double Driver::ChildRun::value(const char *pcKey) const
{
    return result.value(QLatin1String(pcKey)).toDouble(qQNaN());
}

double Driver::ChildRun::rate() const
{
    return value("answered") / value("elapsedMs") * 1000;
}

double Driver::ChildRun::cpuPerRequest() const
{
    return value("cpuMs") / value("answered");
}

int Driver::ChildRun::answeredOk() const
{
    const bool bTransfer = result.contains("ok");
    return bTransfer ? int(result.value("ok").toBool())
                     : result.value("answered").toInt() - result.value("failures").toInt();
}

// Complete before capped, then faster; a machine shared with others only ever slows a run down.
bool Driver::ChildRun::isBetterThan(const ChildRun &other) const
{
    if (isComplete() != other.isComplete())
        return isComplete();
    if (!isComplete() && value("answered") != other.value("answered"))
        return value("answered") > other.value("answered");
    return value("elapsedMs") < other.value("elapsedMs");
}

Driver::Driver(BenchSettings settingsIn)
    : settings(std::move(settingsIn)), farm(QStringLiteral(KESTROL_DEVICESIM_PATH))
{
}

int Driver::prScaled(int iCount) const
{
    return qMax(1, int(iCount * settings.dScale + 0.5));
}

bool Driver::prWants(const QString &sMode) const
{
    return !iInterrupted && settings.lModes.contains(sMode);
}

int Driver::run()
{
    const bool bLarge = prWants("burst100k") || prWants("lateness") || prWants("idle") || prWants("timeout");
    const int iDevices = prScaled(bLarge ? 10000 : 1000);
    SimFarm::Setup setup;
    setup.iServers = settings.iServers;
    setup.iDevices = iDevices;
    setup.iLargeBodyBytes = prWants("backup") ? settings.iTransferBytes : 0;
    pTransferDir = std::make_unique<QTemporaryDir>(settings.sTransferDir + "/kestrol-bench-XXXXXX");
    QString sError;
    if (!workDir.isValid() || !pTransferDir->isValid())
        sError = QStringLiteral("no temporary directory: %1").arg(pTransferDir->errorString());
    else if (farm.start(setup, sError))
        sUrlsFile = workDir.filePath("devices.txt");
    QFile urls(sUrlsFile);
    if (sError.isEmpty() &&
        (!urls.open(QIODevice::WriteOnly) || urls.write(farm.deviceUrls(iDevices).join('\n').toUtf8()) < 0))
        sError = QStringLiteral("cannot write ") + sUrlsFile;
    if (!sError.isEmpty()) {
        std::fprintf(stderr, "bench_load: %s\n", qPrintable(sError));
        return 3;
    }
    urls.close();

    std::printf("Load benchmark, %s\n", qPrintable(QDateTime::currentDateTime().toString(Qt::ISODate)));
    std::printf("machine: %d cores, %s, %s, Qt %s, load average %s\n", QThread::idealThreadCount(),
                qPrintable(cpuModel()), qPrintable(QSysInfo::prettyProductName()), qVersion(),
                qPrintable(loadAverage()));
    std::printf("plugin:  %s\n", qPrintable(settings.sPluginPath));
    std::printf("devices: %d on %d kestrol-devicesim processes (HTTP, Basic authentication)\n", iDevices,
                settings.iServers);
    std::printf("runs:    cap %d s, best of %d; transfers in %s\n\n", settings.iCapMs / 1000,
                settings.iRepeat, qPrintable(pTransferDir->path()));
    std::fflush(stdout);

    catchInterrupts();
    if (prWants("burst20k"))
        prBurst("burst20k", prScaled(20000), prScaled(1000), false);
    if (prWants("burst100k") || prWants("lateness"))
        prBurst("burst100k", prScaled(100000), prScaled(10000), true);
    if (prWants("chain"))
        prChain();
    if (prWants("paced"))
        prPaced();
    if (prWants("idle"))
        prIdle();
    if (prWants("timeout"))
        prTimeouts();
    if (prWants("backup"))
        prTransfer("backup");
    if (prWants("upload"))
        prTransfer("upload");
    farm.stop();

    std::printf("\nload average at the end %s\n\n", qPrintable(loadAverage()));
    const int iMissed = printFigures(lFigures);
    std::fflush(stdout);
    if (iInterrupted)
        return 3;
    return iMissed == 0 ? 0 : 1;
}

QJsonObject Driver::prSpec(const QString &sWorkload, int iDevices) const
{
    return {{"workload", sWorkload},
            {"plugin", settings.sPluginPath},
            {"urls", sUrlsFile},
            {"devices", iDevices},
            {"capMs", settings.iCapMs}};
}

Driver::ChildRun Driver::prRunChild(const QString &sLabel, const QJsonObject &spec, int iHardCapMs)
{
    std::printf("%-36s ", qPrintable(sLabel));
    std::fflush(stdout);
    ChildRun run;
    ChildProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const qint64 iServerStartMs = farm.cpuMs();
    child.start(QCoreApplication::applicationFilePath(),
                {"--child", QString::fromUtf8(QJsonDocument(spec).toJson(QJsonDocument::Compact))});
    iRunningChild = sig_atomic_t(child.processId());
    if (iInterrupted)
        child.kill();
    const bool bFinished = child.waitForFinished(iHardCapMs);
    iRunningChild = 0;
    if (iInterrupted) {
        run.sError = QStringLiteral("interrupted");
    } else if (!bFinished) {
        child.kill();
        child.waitForFinished(5000);
        run.sError = QStringLiteral("no result within %1 s").arg(iHardCapMs / 1000);
    }
    const qint64 iServerMs = farm.cpuMs() - iServerStartMs;
    const QByteArray baOutput = child.readAllStandardOutput().trimmed();
    run.result = QJsonDocument::fromJson(baOutput.mid(baOutput.lastIndexOf('\n') + 1)).object();
    if (run.sError.isEmpty() && (child.exitStatus() != QProcess::NormalExit || run.result.isEmpty()))
        run.sError = QStringLiteral("the child ended without a result (exit %1)").arg(child.exitCode());
    if (run.sError.isEmpty())
        run.sError = run.result.value("error").toString();
    const double dElapsedMs = run.value("elapsedMs");
    run.dServerShare = dElapsedMs > 0 ? 100.0 * double(iServerMs) / dElapsedMs : qQNaN();

    if (!run.sError.isEmpty())
        std::printf("FAILED: %s\n", qPrintable(run.sError));
    else
        std::printf("%s in %.1f s; server %.0f%% of a core\n",
                    run.isComplete()                        ? "done"
                    : run.result.value("loopHeld").toBool() ? "CAPPED (event loop held past the cap)"
                                                            : "CAPPED",
                    dElapsedMs / 1000, run.dServerShare);
    std::fflush(stdout);
    return run;
}

QList<Driver::ChildRun> Driver::prRunClients(FigureTable &table, QJsonObject spec,
                                             const QStringList &lClients, int iRounds, int iHardCapMs)
{
    QList<ChildRun> lBest;
    for (int iRound = 0; iRound < iRounds; ++iRound) {
        for (int i = 0; i < lClients.size(); ++i) {
            spec.insert("client", lClients.at(i));
            const ChildRun run =
                prRunChild(QStringLiteral("%1 %2").arg(spec.value("workload").toString(), lClients.at(i)),
                           spec, iHardCapMs);
            if (!run.sError.isEmpty()) {
                table.failed(run.sError);
                lFigures += table.figures();
                return {};
            }
            if (iRound == 0)
                lBest.append(run);
            else if (run.isBetterThan(lBest.at(i)))
                lBest[i] = run;
        }
    }
    return lBest;
}
