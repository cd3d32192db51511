// Load benchmark: the plugin against a hand-written QNetworkAccessManager host, side by side on the same
// simulated devices, from one request to 100,000; see docs/performance.md.
#include "childrun.h"
#include "driver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

#include <cstdio>

namespace {

const QStringList lDefaultModes = {"burst20k", "burst100k", "lateness", "chain",
                                   "paced",    "idle",      "backup",   "upload"};
// Not run by default: what Qt's per-reply inactivity timer costs a hand-written host at 100,000 requests.
const QStringList lAllModes = lDefaultModes + QStringList{"timeout"};

int positive(const QCommandLineParser &parser, const QCommandLineOption &option, QStringList &lBad)
{
    bool bOk = false;
    const int iValue = parser.value(option).toInt(&bOk);
    if (!bOk || iValue < 1)
        lBad.append("--" + option.names().first());
    return iValue;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Runs each workload with a host that calls QNetworkAccessManager itself and with the plugin, each "
        "run\n"
        "in a child process, against kestrol-devicesim processes, and prints the plugin's figures next to "
        "the\n"
        "reference's with the goal of each. Exit status: 0 every goal met, 1 a goal missed, 2 bad usage,\n"
        "3 the benchmark could not run or was interrupted.");
    parser.addHelpOption();
    const QCommandLineOption modeOption(
        "mode", "Comma-separated modes out of " + lAllModes.join(", ") + ". Default all but timeout.",
        "list");
    const QCommandLineOption scaleOption(
        "scale", "Multiplies request and device counts (0.1 for a quick run).", "factor", "1");
    const QCommandLineOption capOption(
        "cap", "Stops a run after this many seconds and reports what finished.", "seconds", "60");
    const QCommandLineOption repeatOption(
        "repeat",
        "Runs every client this many times in turn and keeps the best run of each (transfers: at least 3).",
        "count", "1");
    const QCommandLineOption serversOption("servers", "Number of simulator processes.", "count", "16");
    const QCommandLineOption transferOption(
        "transfer-mib", "Size of the backup and the upload. Default 1024 x scale.", "MiB");
    const QCommandLineOption transferDirOption(
        "transfer-dir",
        "Where backups are written and the upload image lies; memory-backed by default, as a disk "
        "would mostly measure itself.",
        "dir", QFileInfo("/dev/shm").isWritable() ? "/dev/shm" : QDir::tempPath());
    const QCommandLineOption pluginOption("plugin", "The plugin module to measure.", "path",
                                          KESTROL_PLUGIN_PATH);
    QCommandLineOption childOption("child", "Internal: runs one workload described by JSON.", "json");
    childOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({modeOption, scaleOption, capOption, repeatOption, serversOption, transferOption,
                       transferDirOption, pluginOption, childOption});
    parser.process(app);

    if (parser.isSet(childOption))
        return runChild(QJsonDocument::fromJson(parser.value(childOption).toUtf8()).object());

    QStringList lBad;
    BenchSettings settings;
    bool bScaleOk = false;
    settings.dScale = parser.value(scaleOption).toDouble(&bScaleOk);
    if (!bScaleOk || settings.dScale <= 0)
        lBad.append("--scale");
    settings.iCapMs = positive(parser, capOption, lBad) * 1000;
    settings.iRepeat = positive(parser, repeatOption, lBad);
    settings.iServers = positive(parser, serversOption, lBad);
    settings.iTransferBytes = (parser.isSet(transferOption) ? positive(parser, transferOption, lBad)
                                                            : qMax(16, int(1024 * settings.dScale))) *
                              qint64(1024 * 1024);
    settings.sTransferDir = parser.value(transferDirOption);
    settings.sPluginPath = parser.value(pluginOption);
    settings.lModes =
        parser.isSet(modeOption) ? parser.value(modeOption).split(',', Qt::SkipEmptyParts) : lDefaultModes;
    for (const QString &sMode : qAsConst(settings.lModes)) {
        if (!lAllModes.contains(sMode))
            lBad.append("--mode " + sMode);
    }
    if (!lBad.isEmpty()) {
        std::fprintf(stderr, "bench_load: bad %s (see --help)\n", qPrintable(lBad.join(", ")));
        return 2;
    }
    return Driver(settings).run();
}
