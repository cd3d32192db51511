// The figures of each mode, from the best runs of its clients.
#include "driver.h"

#include <QFile>

namespace {

constexpr double kMib = 1024.0 * 1024.0;
// Transfers take seconds and depend on what else the machine does at the moment; the best of a few rounds
// measures the client rather than its neighbours.
constexpr int kTransferRounds = 3;

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

void Driver::prAddServerShare(FigureTable &table, const ChildRun &reference, const ChildRun &plugin)
{
    table.note(QStringLiteral("server CPU (% of one core)"), QString::number(reference.dServerShare, 'f', 0),
               QString::number(plugin.dServerShare, 'f', 0));
}

// The 20k burst is judged by throughput and CPU, the 100k one by time, memory and the host's timer.
void Driver::prBurst(const QString &sMode, int iRequests, int iDevices, bool bLarge)
{
    FigureTable table(sMode);
    QJsonObject spec = prSpec("burst", iDevices);
    spec.insert("requests", iRequests);
    const QList<ChildRun> lRuns =
        prRunClients(table, spec, {"reference", "plugin"}, settings.iRepeat, settings.iCapMs + kChildSlackMs);
    if (lRuns.isEmpty())
        return;
    const ChildRun &reference = lRuns.at(0), &plugin = lRuns.at(1);
    table.note(QStringLiteral("%1 requests over %2 devices").arg(iRequests).arg(iDevices), QString());
    table.answered(iRequests, reference.answeredOk(), plugin.answeredOk(),
                   plugin.result.value("duplicates").toInt());
    table.ratio(QStringLiteral("throughput (req/s)"), reference.rate(), plugin.rate(), 0, bLarge ? 0 : 0.9,
                true);
    table.ratio(QStringLiteral("CPU per request (ms)"), reference.cpuPerRequest(), plugin.cpuPerRequest(), 3,
                bLarge ? 0 : 1.15, false);
    table.ratio(QStringLiteral("time (s)"), reference.value("elapsedMs") / 1000,
                plugin.value("elapsedMs") / 1000, 2, bLarge ? 1.3 : 0, false, !plugin.isComplete());
    table.ratio(QStringLiteral("peak memory (MiB)"), reference.value("peakRssKib") / 1024,
                plugin.value("peakRssKib") / 1024, 0, bLarge ? 1.3 : 0, false);
    table.note(QStringLiteral("host hand-over (ms)"), QString::number(reference.value("submitMs"), 'f', 0),
               QString::number(plugin.value("submitMs"), 'f', 0));
    prAddServerShare(table, reference, plugin);
    lFigures += table.figures();
    if (bLarge) {
        FigureTable lateness(QStringLiteral("lateness"));
        lateness.bound(QStringLiteral("worst 10 ms host timer delay (ms)"),
                       QString::number(reference.value("worstLatenessMs"), 'f', 1),
                       plugin.value("worstLatenessMs"), 1, 50);
        lFigures += lateness.figures();
    }
}

void Driver::prChain()
{
    FigureTable table(QStringLiteral("chain"));
    const int iPollers = prScaled(1000), iLength = 20;
    QJsonObject spec = prSpec("chain", iPollers);
    spec.insert("pollers", iPollers);
    spec.insert("length", iLength);
    const QList<ChildRun> lRuns = prRunClients(table, spec, {"reference", "reference-tick", "plugin"},
                                               settings.iRepeat, settings.iCapMs + kChildSlackMs);
    if (lRuns.isEmpty())
        return;
    const ChildRun &plain = lRuns.at(0), &ticked = lRuns.at(1), &plugin = lRuns.at(2);
    table.note(QStringLiteral("%1 pollers x %2").arg(iPollers).arg(iLength), QString());
    table.answered(iPollers * iLength, ticked.answeredOk(), plugin.answeredOk(),
                   plugin.result.value("duplicates").toInt());
    table.ratio(QStringLiteral("throughput vs ticked (req/s)"), ticked.rate(), plugin.rate(), 0, 0.9, true);
    table.ratio(QStringLiteral("throughput vs plain (req/s)"), plain.rate(), plugin.rate(), 0, 0, true);
    table.ratio(QStringLiteral("CPU per request vs plain (ms)"), plain.cpuPerRequest(),
                plugin.cpuPerRequest(), 3, 0, false);
    prAddServerShare(table, ticked, plugin);
    lFigures += table.figures();
}

void Driver::prPaced()
{
    FigureTable table(QStringLiteral("paced"));
    const int iDevices = prScaled(1000), iRate = 1000, iSeconds = qMax(1, prScaled(10));
    QJsonObject spec = prSpec("paced", iDevices);
    spec.insert("rate", iRate);
    spec.insert("seconds", iSeconds);
    const QList<ChildRun> lRuns = prRunClients(table, spec, {"reference", "reference-tick", "plugin"},
                                               settings.iRepeat, settings.iCapMs + kChildSlackMs);
    if (lRuns.isEmpty())
        return;
    const ChildRun &plain = lRuns.at(0), &ticked = lRuns.at(1), &plugin = lRuns.at(2);
    table.note(QStringLiteral("%1 req/s for %2 s").arg(iRate).arg(iSeconds), QString());
    table.answered(iRate * iSeconds, ticked.answeredOk(), plugin.answeredOk(),
                   plugin.result.value("duplicates").toInt());
    table.ratio(QStringLiteral("latency p50 vs ticked (ms)"), ticked.value("p50Ms"), plugin.value("p50Ms"), 1,
                0, false);
    table.ratio(QStringLiteral("latency p99 vs ticked (ms)"), ticked.value("p99Ms"), plugin.value("p99Ms"), 1,
                0, false);
    table.note(
        QStringLiteral("plain reference p50 / p99 (ms)"),
        QStringLiteral("%1 / %2").arg(plain.value("p50Ms"), 0, 'f', 1).arg(plain.value("p99Ms"), 0, 'f', 1),
        QString());
    prAddServerShare(table, ticked, plugin);
    lFigures += table.figures();
}

void Driver::prIdle()
{
    FigureTable table(QStringLiteral("idle"));
    const int iDevices = prScaled(10000), iSeconds = 5;
    QJsonObject spec = prSpec("idle", iDevices);
    spec.insert("seconds", iSeconds);
    const QList<ChildRun> lRuns =
        prRunClients(table, spec, {"plugin"}, settings.iRepeat, 2 * iSeconds * 1000 + kChildSlackMs);
    if (lRuns.isEmpty())
        return;
    table.bound(QStringLiteral("CPU per tick, no devices (ms)"), QStringLiteral("-"),
                lRuns.at(0).value("tickCpuMsEmpty"), 3, 0);
    table.bound(QStringLiteral("CPU per tick, %1 devices (ms)").arg(iDevices), QStringLiteral("-"),
                lRuns.at(0).value("tickCpuMs"), 3, 0.2, true);
    lFigures += table.figures();
}

// What Qt's inactivity time-out costs a host at this scale: a timer per reply, restarted on every progress.
void Driver::prTimeouts()
{
    FigureTable table(QStringLiteral("timeout"));
    const int iRequests = prScaled(100000), iDevices = prScaled(10000);
    QJsonObject spec = prSpec("burst", iDevices);
    spec.insert("requests", iRequests);
    const QList<ChildRun> lRuns = prRunClients(table, spec, {"reference", "reference-timeout"},
                                               settings.iRepeat, settings.iCapMs + kChildSlackMs);
    if (lRuns.isEmpty())
        return;
    const ChildRun &plain = lRuns.at(0), &timed = lRuns.at(1);
    const QString sCapped = timed.isComplete() ? QString() : QStringLiteral("+");
    const auto change = [&sCapped](double dWithout, double dWith, int iPrecision) {
        return QStringLiteral("%1 -> %2").arg(dWithout, 0, 'f', iPrecision).arg(dWith, 0, 'f', iPrecision) +
               sCapped;
    };
    table.note(QStringLiteral("%1 requests over %2 devices").arg(iRequests).arg(iDevices), QString(),
               QString());
    table.note(QStringLiteral("reference without -> with time-outs"), QString(), QString());
    table.note(QStringLiteral("answered"),
               QStringLiteral("%1 -> %2").arg(plain.answeredOk()).arg(timed.answeredOk()));
    table.note(QStringLiteral("CPU per request (ms)"),
               change(plain.cpuPerRequest(), timed.cpuPerRequest(), 3), QString());
    table.note(QStringLiteral("time (s)"),
               change(plain.value("elapsedMs") / 1000, timed.value("elapsedMs") / 1000, 1), QString());
    table.note(QStringLiteral("worst 10 ms host timer delay (ms)"),
               change(plain.value("worstLatenessMs"), timed.value("worstLatenessMs"), 0), QString());
    lFigures += table.figures();
}

// The goal compares with a host that also waits for a 100 ms tick before each of its two requests: at
// memory speed a whole transfer takes about as long as two ticks, which are the plugin's design.
void Driver::prTransfer(const QString &sMode)
{
    FigureTable table(sMode);
    const bool bUpload = sMode == QLatin1String("upload");
    const QString sImage = pTransferDir->filePath("firmware.bin");
    if (bUpload && !writeUploadImage(sImage, settings.iTransferBytes)) {
        table.failed(QStringLiteral("cannot write ") + sImage);
        lFigures += table.figures();
        return;
    }
    QJsonObject spec = prSpec(sMode, 0);
    spec.insert("device", farm.spareDeviceUrl());
    spec.insert("path", bUpload ? sImage : pTransferDir->path());
    spec.insert("bytes", double(settings.iTransferBytes));
    const QList<ChildRun> lRuns =
        prRunClients(table, spec, {"reference", "reference-tick", "plugin"},
                     qMax(kTransferRounds, settings.iRepeat), settings.iCapMs + kChildSlackMs);
    QFile::remove(sImage);
    if (lRuns.isEmpty())
        return;
    const ChildRun &plain = lRuns.at(0), &ticked = lRuns.at(1), &plugin = lRuns.at(2);
    const auto speed = [this](const ChildRun &run) {
        return run.answeredOk() ? settings.iTransferBytes / kMib / run.value("elapsedMs") * 1000 : 0;
    };
    table.note(QString(bUpload ? "%1 MiB, multipart POST" : "%1 MiB, streamed to a file")
                   .arg(settings.iTransferBytes / kMib),
               QString());
    table.answered(1, ticked.answeredOk(), plugin.answeredOk(), 0);
    table.ratio(QStringLiteral("speed vs ticked (MiB/s)"), speed(ticked), speed(plugin), 0, bUpload ? 0 : 0.9,
                true);
    table.ratio(QStringLiteral("speed vs plain (MiB/s)"), speed(plain), speed(plugin), 0, 0, true);
    if (bUpload)
        table.ratio(QStringLiteral("peak memory growth (MiB)"), plain.value("growthKib") / 1024,
                    plugin.value("growthKib") / 1024, 1, 0, false);
    else
        table.bound(QStringLiteral("peak memory growth (MiB)"),
                    QString::number(plain.value("growthKib") / 1024, 'f', 1),
                    plugin.value("growthKib") / 1024, 1, 48, true);
    prAddServerShare(table, ticked, plugin);
    lFigures += table.figures();
}
