// Load benchmark: the plugin against a hand-written QNetworkAccessManager host, side by side on the same
// simulated devices, from one request to 100,000; see docs/performance.md.
#include "childrun.h"
#include "driver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Runs each workload once with a host that calls QNetworkAccessManager "
                                     "itself and once with the plugin,\n"
                                     "each in a child process, against kestrol-devicesim processes, and "
                                     "prints the plugin's figures next to\n"
                                     "the reference's with the goal of each. Exit status: 0 every goal met, "
                                     "1 a goal missed, 2 bad usage,\n"
                                     "3 the benchmark could not run.");
    parser.addHelpOption();
    const QCommandLineOption modeOption("mode",
                                        "Comma-separated modes: burst20k, burst100k, lateness, chain, paced, "
                                        "idle, backup, upload. Default all.",
                                        "list");
    const QCommandLineOption scaleOption(
        "scale", "Multiplies request and device counts (0.1 for a quick run).", "factor", "1");
    const QCommandLineOption capOption(
        "cap", "Stops a run after this many seconds and reports what finished.", "seconds", "60");
    const QCommandLineOption serversOption("servers", "Number of simulator processes.", "count", "16");
    const QCommandLineOption transferOption(
        "transfer-mib", "Size of the backup and the upload (default 1024 x scale).", "MiB");
    const QCommandLineOption pluginOption("plugin", "The plugin module to measure.", "path",
                                          KESTROL_PLUGIN_PATH);
    QCommandLineOption childOption("child", "Internal: run one workload described by JSON.", "json");
    childOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions(
        {modeOption, scaleOption, capOption, serversOption, transferOption, pluginOption, childOption});
    parser.process(app);

    if (parser.isSet(childOption))
        return runChild(QJsonDocument::fromJson(parser.value(childOption).toUtf8()).object());

    BenchSettings settings;
    bool bScaleOk = false, bCapOk = false, bServersOk = false, bTransferOk = true;
    settings.dScale = parser.value(scaleOption).toDouble(&bScaleOk);
    settings.iCapMs = parser.value(capOption).toInt(&bCapOk) * 1000;
    settings.iServers = parser.value(serversOption).toInt(&bServersOk);
    const qint64 iTransferMib = parser.isSet(transferOption)
                                    ? parser.value(transferOption).toLongLong(&bTransferOk)
                                    : qMax<qint64>(16, qint64(1024 * settings.dScale));
    settings.iTransferBytes = iTransferMib * 1024 * 1024;
    settings.sPluginPath = parser.value(pluginOption);
    if (parser.isSet(modeOption))
        settings.lModes = parser.value(modeOption).split(',', Qt::SkipEmptyParts);
    const QStringList lKnown = {"burst20k", "burst100k", "lateness", "chain",
                                "paced",    "idle",      "backup",   "upload"};
    for (const QString &sMode : qAsConst(settings.lModes)) {
        if (!lKnown.contains(sMode)) {
            std::fprintf(stderr, "bench_load: unknown mode %s (see --help)\n", qPrintable(sMode));
            return 2;
        }
    }
    if (!bScaleOk || settings.dScale <= 0 || !bCapOk || settings.iCapMs <= 0 || !bServersOk ||
        settings.iServers < 1 || !bTransferOk || iTransferMib < 1) {
        std::fprintf(stderr,
                     "bench_load: --scale, --cap, --servers and --transfer-mib need positive numbers\n");
        return 2;
    }
    return Driver(settings).run();
}
