// kestrol-soak: a chaos soak of the plugin; see --help.
#include "chaosplan.h"
#include "soakrun.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

double mib(qint64 iBytes)
{
    return double(iBytes) / (1024.0 * 1024.0);
}

bool readOptions(const QCoreApplication &app, SoakRun::Options &options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Chaos soak: loads the plugin as a host does and submits requests to devices on four simulators\n"
        "(HTTP and HTTPS, Basic and Digest) that hang, drop, refuse, fail, send garbage, cut or misframe\n"
        "their bodies, fail TLS, show another certificate or redirect; some devices are deleted and changed\n"
        "while in use, a second thread submits a share, and the host sends bad input. In the end the plugin\n"
        "is destroyed with transfers under way. Prints requests, answers, codes per fault kind and the\n"
        "heap after warm-up (10 %) and at the end. Exit status 0 only when every request was answered\n"
        "exactly once with a code its kind allows, and nothing else went wrong.");
    parser.addHelpOption();
    parser.addOptions({
        {"requests", "Requests to submit. Default 20000.", "count", "20000"},
        {"devices", "Devices, spread over the fault kinds. Default 200.", "count", "200"},
        {"window", "Requests outstanding at once. Default 300.", "count", "300"},
        {"thread-percent", "Share submitted by a second thread. Default 9.", "percent", "9"},
        {"hostile-percent", "Share of bad input from the host. Default 3.", "percent", "3"},
        {"timeout-ms", "The plugin's inactivity limit. Default 2000.", "ms", "2000"},
        {"max-seconds", "Time limit of the run. Default 3600.", "seconds", "3600"},
        {"max-heap-growth",
         "Fail when the heap at the end exceeds the one after warm-up by more than this. Default: report.",
         "percent"},
        {"seed", "Random seed. Default 1.", "number", "1"},
        {"kinds", "Only devices of these fault kinds (comma-separated names as printed). Default: all.",
         "names"},
        {"log", "Write the plugin's log lines, each submission and each answer to this file.", "file"},
        {"plugin", "Plugin module. Default: the one built beside.", "path", KESTROL_PLUGIN_PATH},
        {"devicesim", "Simulator executable.", "path", KESTROL_DEVICESIM_PATH},
    });
    parser.process(app);
    bool bAll = true;
    const auto number = [&](const char *pcName, int iMin) {
        bool bOk = false;
        const int iValue = parser.value(pcName).toInt(&bOk);
        bAll = bAll && bOk && iValue >= iMin;
        return iValue;
    };
    options.iRequests = number("requests", 1);
    options.iDevices = number("devices", 1);
    options.iWindow = number("window", 1);
    options.iThreadPercent = number("thread-percent", 0);
    options.iHostilePercent = number("hostile-percent", 0);
    options.iTimeoutMs = number("timeout-ms", 1);
    options.iMaxSeconds = number("max-seconds", 1);
    options.iSeed = quint32(number("seed", 0));
    options.dMaxHeapGrowth =
        parser.isSet("max-heap-growth") ? parser.value("max-heap-growth").toDouble() : -1;
    options.sPlugin = parser.value("plugin");
    options.sDeviceSim = parser.value("devicesim");
    options.sLogFile = parser.value("log");
    if (parser.isSet("kinds"))
        options.lKinds = parser.value("kinds").split(QLatin1Char(','));
    return bAll && options.iThreadPercent + options.iHostilePercent <= 100;
}

void printCodes(const Ledger::Figures &figures)
{
    std::printf("%-18s %9s %9s %9s %9s %7s\n", "fault kind", "requests", "0", "101", "103", "other");
    for (int i = 0; i < figures.vCodes.size(); ++i) {
        const QVector<int> &vRow = figures.vCodes.at(i);
        std::printf("%-18s %9d %9d %9d %9d %7d\n", ChaosPlan::kinds().at(i).pcName,
                    vRow[0] + vRow[1] + vRow[2] + vRow[3], vRow[0], vRow[1], vRow[2], vRow[3]);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("kestrol-soak");
    SoakRun::Options options;
    if (!readOptions(app, options)) {
        std::fprintf(stderr, "kestrol-soak: bad option value (see --help)\n");
        return 2;
    }
    SoakRun soak(options);
    const SoakRun::Report report = soak.run();
    if (!report.sError.isEmpty()) {
        std::fprintf(stderr, "kestrol-soak: %s\n", qPrintable(report.sError));
        return 2;
    }

    const Ledger::Figures &f = report.figures;
    const double dWarm = double(report.warm.withoutPools());
    const double dGrowth = dWarm > 0 ? 100.0 * (double(report.end.withoutPools()) - dWarm) / dWarm : 0;
    std::printf("requests %d (%d from a second thread) over %d devices in %lld s, %d device changes%s\n",
                f.iSubmitted, f.iByThread, options.iDevices, report.iSeconds, report.iChurnOperations,
                report.bTimedOut ? ", stopped at the time limit" : "");
    std::printf("answered exactly once %d, duplicates %d, missing %d, unexpected codes %d, wrong answer "
                "shapes %d\n",
                f.iAnsweredOnce, f.iDuplicates, f.iMissing, f.iUnexpectedCodes, f.iBadShapes);
    printCodes(f);
    std::printf(
        "live heap after warm-up (10 %%): %.2f MiB + %.2f MiB in the access manager's connection pools\n",
        mib(report.warm.withoutPools()), mib(report.warm.iPools));
    std::printf(
        "live heap at the end:           %.2f MiB + %.2f MiB in the access manager's connection pools "
        "(%+.1f %% without the pools)\n",
        mib(report.end.withoutPools()), mib(report.end.iPools), dGrowth);
    std::printf(
        "live heap before loading the plugin %.2f MiB, after destroying it %.2f MiB; resident %.1f MiB "
        "after warm-up, %.1f MiB at the end\n",
        mib(report.iHeapBeforeLoad), mib(report.iHeapAfterDestruction), report.warm.iRssKib / 1024.0,
        report.end.iRssKib / 1024.0);
    std::printf("teardown: plugin destroyed with %d requests outstanding; %d answers after it\n",
                report.iInFlightAtTeardown, f.iAfterTeardown);
    std::printf("log lines with a password %d; files left or written where not asked %d\n",
                report.iPasswordLines, report.iLeftoverFiles);

    const bool bGrowthOk = options.dMaxHeapGrowth < 0 || dGrowth <= options.dMaxHeapGrowth;
    const bool bOk = f.iAnsweredOnce == f.iSubmitted && f.iDuplicates == 0 && f.iMissing == 0 &&
                     f.iUnexpectedCodes == 0 && f.iBadShapes == 0 && f.iAfterTeardown == 0 &&
                     report.iPasswordLines == 0 && report.iLeftoverFiles == 0 && bGrowthOk;
    std::printf("soak %s\n", bOk ? "PASSED" : "FAILED");
    // A sanitizer's report at exit ends the process without flushing standard output.
    std::fflush(stdout);
    return bOk ? 0 : 1;
}
