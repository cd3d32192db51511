// Fleet benchmark: the plugin, loaded as a host loads it, against many simulated devices on loopback.
// Measures the time for one command on every device at once, and the memory a large settings backup costs.
#include "deviceapiinterface.h"
#include "devicesim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPluginLoader>
#include <QSet>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace {

// Peak resident memory of this process so far, in KiB.
qint64 peakRssKib()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

struct Outcome
{
    int answered = 0;
    int succeeded = 0;
    qint64 elapsedMs = 0;
};

// Submits one command per device and waits for every answer (bounded by timeoutMs).
Outcome runOnEveryDevice(DeviceApiInterface *pApi, const QStringList &lDevices, const QString &sCommand,
                         const QVariantList &lParam, int timeoutMs)
{
    Outcome outcome;
    QSet<QString> pending;
    QEventLoop loop;
    auto connection = QObject::connect(pApi, &DeviceApiInterface::signal_apiResponse,
                                       [&](QString sUuid, int iError, QVariantList) {
                                           if (!pending.remove(sUuid))
                                               return;
                                           ++outcome.answered;
                                           outcome.succeeded += iError == 0;
                                           if (pending.isEmpty())
                                               loop.quit();
                                       });
    QElapsedTimer timer;
    timer.start();
    for (const QString &sDevice : lDevices)
        pending.insert(pApi->requestApiCommand(sDevice, sCommand, lParam));
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    outcome.elapsedMs = timer.elapsed();
    QObject::disconnect(connection);
    return outcome;
}

void report(const char *name, int devices, const Outcome &outcome)
{
    const double seconds = qMax<qint64>(outcome.elapsedMs, 1) / 1000.0;
    std::printf("%-28s devices=%-6d answered=%-6d ok=%-6d time=%8.0f ms  rate=%9.0f req/s\n", name, devices,
                outcome.answered, outcome.succeeded, seconds * 1000, outcome.answered / seconds);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Runs commands across a simulated fleet through the plugin.");
    parser.addHelpOption();
    QCommandLineOption devicesOption("devices", "Number of simulated devices.", "N", "1000");
    QCommandLineOption settingsOption("settings-mib", "Size of the large settings backup (0: skip).", "MiB",
                                      "256");
    QCommandLineOption tlsOption("tls", "Talk HTTPS to the devices.");
    parser.addOptions({devicesOption, settingsOption, tlsOption});
    parser.process(app);
    const int devices = qMax(1, parser.value(devicesOption).toInt());
    const qint64 settingsMib = parser.value(settingsOption).toLongLong();

    devicesim::Simulator::Options options;
    options.tls = parser.isSet(tlsOption);
    devicesim::Simulator simulator(options);
    if (!simulator.start()) {
        std::fprintf(stderr, "bench_fleet: the simulator could not start\n");
        return 1;
    }

    QPluginLoader loader(KESTROL_PLUGIN_PATH);
    auto *pApi = qobject_cast<DeviceApiInterface *>(loader.instance());
    if (!pApi) {
        std::fprintf(stderr, "bench_fleet: %s\n", qPrintable(loader.errorString()));
        return 1;
    }
    pApi->initApiPlugin(nullptr);

    QStringList lDevices;
    for (int i = 0; i < devices; ++i) {
        const QString sId = QString::number(i);
        pApi->createDevice(sId, simulator.addDevice(sId), "admin", "secret", {"camera"});
        lDevices << sId;
    }

    const int timeoutMs = 120000;
    report("device info", devices, runOnEveryDevice(pApi, lDevices, "API_CMD_GET_CONFIG", {}, timeoutMs));
    report("snapshot", devices, runOnEveryDevice(pApi, lDevices, "API_CMD_SNAPSHOT", {1}, timeoutMs));
    report("counter list", devices,
           runOnEveryDevice(pApi, lDevices, "API_CMD_AICOUNTER_LIST", {}, timeoutMs));

    if (settingsMib > 0) {
        QTemporaryDir dir;
        devicesim::Fault large;
        large.largeBodyBytes = settingsMib * 1024 * 1024;
        simulator.setFault("0", "/files/export/settings.ndb", large);
        const qint64 before = peakRssKib();
        const Outcome outcome =
            runOnEveryDevice(pApi, {"0"}, "API_CMD_SETTINGS_SAVE", {dir.path()}, timeoutMs);
        const qint64 after = peakRssKib();
        report("settings backup", 1, outcome);
        std::printf("%-28s size=%lld MiB  peak memory before=%lld MiB after=%lld MiB\n", "", settingsMib,
                    before / 1024, after / 1024);
    }
    delete loader.instance();
    simulator.stop();
    return 0;
}
