#include "driver.h"

#include "childprocess.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

const QStringList lAllModes = {"burst20k", "burst100k", "lateness", "chain",
                               "paced",    "idle",      "backup",   "upload"};
// Time a child gets beyond its cap for starting, registering devices and reporting.
constexpr int kChildSlackMs = 60000;
constexpr double kMib = 1024.0 * 1024.0;

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

double value(const QJsonObject &result, const char *pcKey)
{
    return result.value(QLatin1String(pcKey)).toDouble(qQNaN());
}

int answeredOk(const QJsonObject &result)
{
    return result.value("answered").toInt() - result.value("failures").toInt();
}

bool writeUploadImage(const QString &sPath, qint64 iBytes)
{
    QFile file(sPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray baBlock(4 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < baBlock.size(); ++i)
        baBlock[i] = char((i * 131) ^ (i >> 9));
    for (qint64 iWritten = 0; iWritten < iBytes; iWritten += baBlock.size()) {
        const qint64 iCount = qMin<qint64>(baBlock.size(), iBytes - iWritten);
        if (file.write(baBlock.constData(), iCount) != iCount)
            return false;
    }
    return true;
}

} // namespace

Driver::Driver(BenchSettings settingsIn)
    : settings(std::move(settingsIn)), farm(QStringLiteral(KESTROL_DEVICESIM_PATH))
{
    if (settings.lModes.isEmpty())
        settings.lModes = lAllModes;
}

int Driver::prScaled(int iCount) const
{
    return qMax(1, int(iCount * settings.dScale + 0.5));
}

bool Driver::prWants(const QString &sMode) const
{
    return settings.lModes.contains(sMode);
}

int Driver::run()
{
    const int iBurstDevices = prWants("burst100k") || prWants("lateness") ? prScaled(10000) : 0;
    const int iDevices = std::max({iBurstDevices, prWants("idle") ? prScaled(10000) : 0, prScaled(1000)});
    SimFarm::Setup setup;
    setup.iServers = settings.iServers;
    setup.iDevices = iDevices;
    setup.iLargeBodyBytes = prWants("backup") ? settings.iTransferBytes : 0;
    QString sError;
    if (!workDir.isValid() || !farm.start(setup, sError)) {
        std::fprintf(stderr, "bench_load: %s\n",
                     qPrintable(sError.isEmpty() ? workDir.errorString() : sError));
        return 3;
    }
    sUrlsFile = workDir.filePath("devices.txt");
    QFile urls(sUrlsFile);
    if (!urls.open(QIODevice::WriteOnly) || urls.write(farm.deviceUrls(iDevices).join('\n').toUtf8()) < 0) {
        std::fprintf(stderr, "bench_load: cannot write %s\n", qPrintable(sUrlsFile));
        return 3;
    }
    urls.close();

    std::printf("Load benchmark, %s\n", qPrintable(QDateTime::currentDateTime().toString(Qt::ISODate)));
    std::printf("machine: %d cores, %s, %s, Qt %s, load average %s\n", QThread::idealThreadCount(),
                qPrintable(cpuModel()), qPrintable(QSysInfo::prettyProductName()), qVersion(),
                qPrintable(loadAverage()));
    std::printf("plugin:  %s\n", qPrintable(settings.sPluginPath));
    std::printf(
        "devices: %d on %d kestrol-devicesim processes (HTTP, Basic authentication); run cap %d s\n\n",
        iDevices, settings.iServers, settings.iCapMs / 1000);
    std::fflush(stdout);

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
    if (prWants("backup"))
        prBackup();
    if (prWants("upload"))
        prUpload();
    farm.stop();

    std::printf("\nload average at the end %s\n\n", qPrintable(loadAverage()));
    const int iMissed = printFigures(lFigures);
    std::fflush(stdout);
    return iMissed == 0 ? 0 : 1;
}

QJsonObject Driver::prSpec(const QString &sWorkload, const QString &sClient, int iDevices) const
{
    return {{"workload", sWorkload}, {"client", sClient},   {"plugin", settings.sPluginPath},
            {"urls", sUrlsFile},     {"devices", iDevices}, {"capMs", settings.iCapMs}};
}

Driver::ChildRun Driver::prRunChild(const QString &sLabel, QJsonObject spec, int iHardCapMs)
{
    std::printf("%-32s ", qPrintable(sLabel));
    std::fflush(stdout);
    ChildRun run;
    ChildProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const qint64 iServerStartMs = farm.cpuMs();
    child.start(QCoreApplication::applicationFilePath(),
                {"--child", QString::fromUtf8(QJsonDocument(spec).toJson(QJsonDocument::Compact))});
    if (!child.waitForFinished(iHardCapMs)) {
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
    const double dElapsedMs = value(run.result, "elapsedMs");
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

void Driver::prAddServerShare(FigureTable &table, const ChildRun &reference, const ChildRun &plugin)
{
    table.note(QStringLiteral("server CPU (% of one core)"), QString::number(reference.dServerShare, 'f', 0),
               QString::number(plugin.dServerShare, 'f', 0));
}

void Driver::prBurst(const QString &sMode, int iRequests, int iDevices, bool bWithLateness)
{
    FigureTable table(sMode);
    QJsonObject spec = prSpec("burst", "reference", iDevices);
    spec.insert("requests", iRequests);
    const QString sWhat = QStringLiteral("%1 requests over %2 devices").arg(iRequests).arg(iDevices);
    const ChildRun reference = prRunChild(sMode + " reference", spec, settings.iCapMs + kChildSlackMs);
    spec.insert("client", "plugin");
    const ChildRun plugin = prRunChild(sMode + " plugin", spec, settings.iCapMs + kChildSlackMs);
    if (!reference.sError.isEmpty() || !plugin.sError.isEmpty()) {
        table.failed(reference.sError.isEmpty() ? plugin.sError : reference.sError);
        lFigures += table.figures();
        return;
    }
    const QJsonObject &ref = reference.result, &plg = plugin.result;
    const bool bCapped = !plugin.isComplete();
    table.note(QStringLiteral("load"), sWhat, QString());
    table.answered(iRequests, answeredOk(ref), answeredOk(plg), plg.value("duplicates").toInt());
    const auto rate = [](const QJsonObject &result) {
        return value(result, "answered") / value(result, "elapsedMs") * 1000;
    };
    const auto cpuPerRequest = [](const QJsonObject &result) {
        return value(result, "cpuMs") / value(result, "answered");
    };
    const bool bTimed = !bWithLateness; // the large burst is judged by time and memory
    table.ratio(QStringLiteral("throughput (req/s)"), rate(ref), rate(plg), 0, bTimed ? 0.9 : 0, true);
    table.ratio(QStringLiteral("CPU per request (ms)"), cpuPerRequest(ref), cpuPerRequest(plg), 3,
                bTimed ? 1.15 : 0, false);
    table.ratio(QStringLiteral("time (s)"), value(ref, "elapsedMs") / 1000, value(plg, "elapsedMs") / 1000, 2,
                bTimed ? 0 : 1.3, false, bCapped);
    table.ratio(QStringLiteral("peak memory (MiB)"), value(ref, "peakRssKib") / 1024,
                value(plg, "peakRssKib") / 1024, 0, bTimed ? 0 : 1.3, false);
    table.note(QStringLiteral("host hand-over (ms)"), QString::number(value(ref, "submitMs"), 'f', 0),
               QString::number(value(plg, "submitMs"), 'f', 0));
    prAddServerShare(table, reference, plugin);
    lFigures += table.figures();
    if (bWithLateness) {
        FigureTable lateness(QStringLiteral("lateness"));
        lateness.bound(QStringLiteral("worst 10 ms host timer delay (ms)"),
                       QString::number(value(ref, "worstLatenessMs"), 'f', 1), value(plg, "worstLatenessMs"),
                       1, 50);
        lFigures += lateness.figures();
    }
}

void Driver::prChain()
{
    FigureTable table(QStringLiteral("chain"));
    const int iPollers = prScaled(1000), iLength = 20;
    QJsonObject spec = prSpec("chain", "reference", iPollers);
    spec.insert("pollers", iPollers);
    spec.insert("length", iLength);
    const ChildRun plain = prRunChild("chain reference", spec, settings.iCapMs + kChildSlackMs);
    spec.insert("client", "reference-tick");
    const ChildRun ticked = prRunChild("chain reference, 100 ms tick", spec, settings.iCapMs + kChildSlackMs);
    spec.insert("client", "plugin");
    const ChildRun plugin = prRunChild("chain plugin", spec, settings.iCapMs + kChildSlackMs);
    if (!plain.sError.isEmpty() || !ticked.sError.isEmpty() || !plugin.sError.isEmpty()) {
        table.failed(QStringLiteral("see above"));
        lFigures += table.figures();
        return;
    }
    const auto rate = [](const ChildRun &run) {
        return value(run.result, "answered") / value(run.result, "elapsedMs") * 1000;
    };
    const auto cpuPerRequest = [](const ChildRun &run) {
        return value(run.result, "cpuMs") / value(run.result, "answered");
    };
    const int iRequests = iPollers * iLength;
    table.note(QStringLiteral("load"), QStringLiteral("%1 pollers x %2").arg(iPollers).arg(iLength),
               QString());
    table.answered(iRequests, answeredOk(ticked.result), answeredOk(plugin.result),
                   plugin.result.value("duplicates").toInt());
    table.ratio(QStringLiteral("throughput vs ticked (req/s)"), rate(ticked), rate(plugin), 0, 0.9, true);
    table.ratio(QStringLiteral("throughput vs plain (req/s)"), rate(plain), rate(plugin), 0, 0, true);
    table.ratio(QStringLiteral("CPU per request vs plain (ms)"), cpuPerRequest(plain), cpuPerRequest(plugin),
                3, 0, false);
    prAddServerShare(table, ticked, plugin);
    lFigures += table.figures();
}

void Driver::prPaced()
{
    FigureTable table(QStringLiteral("paced"));
    const int iDevices = prScaled(1000), iRate = 1000, iSeconds = qMax(1, prScaled(10));
    QJsonObject spec = prSpec("paced", "reference", iDevices);
    spec.insert("rate", iRate);
    spec.insert("seconds", iSeconds);
    const int iHardCapMs = settings.iCapMs + kChildSlackMs;
    const ChildRun plain = prRunChild("paced reference", spec, iHardCapMs);
    spec.insert("client", "reference-tick");
    const ChildRun ticked = prRunChild("paced reference, 100 ms tick", spec, iHardCapMs);
    spec.insert("client", "plugin");
    const ChildRun plugin = prRunChild("paced plugin", spec, iHardCapMs);
    if (!plain.sError.isEmpty() || !ticked.sError.isEmpty() || !plugin.sError.isEmpty()) {
        table.failed(QStringLiteral("see above"));
        lFigures += table.figures();
        return;
    }
    table.note(QStringLiteral("load"), QStringLiteral("%1 req/s for %2 s").arg(iRate).arg(iSeconds),
               QString());
    table.answered(iRate * iSeconds, answeredOk(ticked.result), answeredOk(plugin.result),
                   plugin.result.value("duplicates").toInt());
    table.ratio(QStringLiteral("latency p50 vs ticked (ms)"), value(ticked.result, "p50Ms"),
                value(plugin.result, "p50Ms"), 1, 0, false);
    table.ratio(QStringLiteral("latency p99 vs ticked (ms)"), value(ticked.result, "p99Ms"),
                value(plugin.result, "p99Ms"), 1, 0, false);
    table.note(QStringLiteral("plain reference p50 / p99 (ms)"),
               QStringLiteral("%1 / %2")
                   .arg(value(plain.result, "p50Ms"), 0, 'f', 1)
                   .arg(value(plain.result, "p99Ms"), 0, 'f', 1),
               QString());
    prAddServerShare(table, ticked, plugin);
    lFigures += table.figures();
}

void Driver::prIdle()
{
    FigureTable table(QStringLiteral("idle"));
    const int iDevices = prScaled(10000), iSeconds = 5;
    QJsonObject spec = prSpec("idle", "plugin", iDevices);
    spec.insert("seconds", iSeconds);
    const ChildRun plugin = prRunChild("idle plugin", spec, 2 * iSeconds * 1000 + kChildSlackMs);
    if (!plugin.sError.isEmpty()) {
        table.failed(plugin.sError);
        lFigures += table.figures();
        return;
    }
    table.bound(QStringLiteral("CPU per tick, no devices (ms)"), QStringLiteral("-"),
                value(plugin.result, "tickCpuMsEmpty"), 3, 0);
    table.bound(QStringLiteral("CPU per tick, %1 devices (ms)").arg(iDevices), QStringLiteral("-"),
                value(plugin.result, "tickCpuMs"), 3, 0.2, true);
    lFigures += table.figures();
}

void Driver::prBackup()
{
    FigureTable table(QStringLiteral("backup"));
    QJsonObject spec = prSpec("backup", "reference", 0);
    spec.insert("device", farm.spareDeviceUrl());
    spec.insert("path", workDir.path());
    spec.insert("bytes", double(settings.iTransferBytes));
    const ChildRun reference = prRunChild("backup reference", spec, settings.iCapMs + kChildSlackMs);
    spec.insert("client", "plugin");
    const ChildRun plugin = prRunChild("backup plugin", spec, settings.iCapMs + kChildSlackMs);
    if (!reference.sError.isEmpty() || !plugin.sError.isEmpty()) {
        table.failed(reference.sError.isEmpty() ? plugin.sError : reference.sError);
        lFigures += table.figures();
        return;
    }
    const auto speed = [this](const ChildRun &run) {
        return run.result.value("ok").toBool()
                   ? settings.iTransferBytes / kMib / value(run.result, "elapsedMs") * 1000
                   : 0;
    };
    table.note(QStringLiteral("load"),
               QStringLiteral("%1 MiB, streamed to a file").arg(settings.iTransferBytes / kMib), QString());
    table.answered(1, reference.result.value("ok").toBool(), plugin.result.value("ok").toBool(), 0);
    table.ratio(QStringLiteral("speed (MiB/s)"), speed(reference), speed(plugin), 0, 0.9, true);
    table.bound(QStringLiteral("peak memory growth (MiB)"),
                QString::number(value(reference.result, "growthKib") / 1024, 'f', 1),
                value(plugin.result, "growthKib") / 1024, 1, 48, true);
    prAddServerShare(table, reference, plugin);
    lFigures += table.figures();
}

void Driver::prUpload()
{
    FigureTable table(QStringLiteral("upload"));
    const QString sImage = workDir.filePath("firmware.bin");
    if (!writeUploadImage(sImage, settings.iTransferBytes)) {
        table.failed(QStringLiteral("cannot write ") + sImage);
        lFigures += table.figures();
        return;
    }
    QJsonObject spec = prSpec("upload", "reference", 0);
    spec.insert("device", farm.spareDeviceUrl());
    spec.insert("path", sImage);
    spec.insert("bytes", double(settings.iTransferBytes));
    const ChildRun reference = prRunChild("upload reference", spec, settings.iCapMs + kChildSlackMs);
    spec.insert("client", "plugin");
    const ChildRun plugin = prRunChild("upload plugin", spec, settings.iCapMs + kChildSlackMs);
    QFile::remove(sImage);
    if (!reference.sError.isEmpty() || !plugin.sError.isEmpty()) {
        table.failed(reference.sError.isEmpty() ? plugin.sError : reference.sError);
        lFigures += table.figures();
        return;
    }
    const auto speed = [this](const ChildRun &run) {
        return run.result.value("ok").toBool()
                   ? settings.iTransferBytes / kMib / value(run.result, "elapsedMs") * 1000
                   : 0;
    };
    table.note(QStringLiteral("load"),
               QStringLiteral("%1 MiB, multipart").arg(settings.iTransferBytes / kMib), QString());
    table.answered(1, reference.result.value("ok").toBool(), plugin.result.value("ok").toBool(), 0);
    table.ratio(QStringLiteral("speed (MiB/s)"), speed(reference), speed(plugin), 0, 0, true);
    table.ratio(QStringLiteral("peak memory growth (MiB)"), value(reference.result, "growthKib") / 1024,
                value(plugin.result, "growthKib") / 1024, 1, 0, false);
    prAddServerShare(table, reference, plugin);
    lFigures += table.figures();
}
