#include "workloads.h"

#include "ledger.h"
#include "loadclient.h"
#include "procstats.h"

#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>

namespace {

bool isSnapshot(int iRequest)
{
    return iRequest % 4 == 3;
}

qint64 monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Worst delay of a 10 ms host timer: how long the event loop was held by someone else. Readable from
// another thread, which also sees a hold that is still going on.
class LatenessMeter
{
public:
    LatenessMeter()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(kIntervalNs / 1000000);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 iNow = monotonicNs();
            iWorstNs = qMax(iWorstNs.load(), iNow - iLastNs - kIntervalNs);
            iLastNs = iNow;
        });
        timer.start();
    }
    double worstMs() const
    {
        return double(qMax(iWorstNs.load(), monotonicNs() - iLastNs - kIntervalNs)) / 1e6;
    }

private:
    static constexpr qint64 kIntervalNs = 10 * 1000000;
    QTimer timer;
    std::atomic<qint64> iLastNs{monotonicNs()};
    std::atomic<qint64> iWorstNs{0};
};

double percentileMs(QVector<qint64> vNs, double dFraction)
{
    if (vNs.isEmpty())
        return -1;
    const int iIndex = qMin(vNs.size() - 1, int(dFraction * vNs.size()));
    std::nth_element(vNs.begin(), vNs.begin() + iIndex, vNs.end());
    return double(vNs.at(iIndex)) / 1e6;
}

void runEventLoopFor(int iMs)
{
    QEventLoop loop;
    QTimer::singleShot(iMs, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

namespace Workloads {

QJsonObject burst(LoadClient &client, int iRequests, int iDevices, int iCapMs)
{
    Ledger ledger(client, iRequests);
    for (int i = 0; i < iRequests; ++i)
        client.send(i, i % iDevices, isSnapshot(i));
    const double dSubmitMs = double(ledger.elapsedNs()) / 1e6;
    // Started after the hand-over: the host's own loop above is not the plugin's doing.
    LatenessMeter lateness;
    ledger.extras = [dSubmitMs, &lateness] {
        return QJsonObject{{"submitMs", dSubmitMs}, {"worstLatenessMs", lateness.worstMs()}};
    };
    ledger.wait(iCapMs);
    return ledger.result();
}

QJsonObject chain(LoadClient &client, int iPollers, int iLength, int iCapMs)
{
    Ledger ledger(client, iPollers * iLength);
    ledger.afterAnswer = [&client, iLength](int iRequest) {
        const int iNext = iRequest + 1;
        if (iNext % iLength != 0)
            client.send(iNext, iNext / iLength, isSnapshot(iNext));
    };
    for (int iPoller = 0; iPoller < iPollers; ++iPoller)
        client.send(iPoller * iLength, iPoller, isSnapshot(iPoller * iLength));
    ledger.wait(iCapMs);
    return ledger.result();
}

QJsonObject paced(LoadClient &client, int iRate, int iSeconds, int iDevices, int iCapMs)
{
    const int iRequests = iRate * iSeconds;
    QVector<qint64> vSentNs(iRequests, 0);
    QVector<qint64> vLatencyNs;
    vLatencyNs.reserve(iRequests);
    Ledger ledger(client, iRequests);
    ledger.afterAnswer = [&](int iRequest) { vLatencyNs.append(ledger.elapsedNs() - vSentNs.at(iRequest)); };

    int iSent = 0;
    QTimer pacer;
    pacer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pacer, &QTimer::timeout, [&] {
        const int iDue = int(qMin<qint64>(iRequests, ledger.elapsedNs() * iRate / 1000000000));
        for (; iSent < iDue; ++iSent) {
            vSentNs[iSent] = ledger.elapsedNs();
            client.send(iSent, iSent % iDevices, isSnapshot(iSent));
        }
        if (iSent == iRequests)
            pacer.stop();
    });
    pacer.start(1);
    ledger.wait(iCapMs);
    QJsonObject result = ledger.result();
    result.insert("p50Ms", percentileMs(vLatencyNs, 0.50));
    result.insert("p99Ms", percentileMs(vLatencyNs, 0.99));
    return result;
}

QJsonObject idle(PluginClient &client, const QStringList &lUrls, int iSeconds)
{
    const auto cpuPerTickMs = [iSeconds] {
        const qint64 iStartNs = ProcStats::cpuNs();
        runEventLoopFor(iSeconds * 1000);
        return double(ProcStats::cpuNs() - iStartNs) / 1e6 / (iSeconds * 10);
    };
    const double dEmpty = cpuPerTickMs();
    client.registerDevices(lUrls);
    runEventLoopFor(500);
    const double dRegistered = cpuPerTickMs();
    return {{"complete", true},
            {"devices", lUrls.size()},
            {"tickCpuMsEmpty", dEmpty},
            {"tickCpuMs", dRegistered},
            {"elapsedMs", 2 * iSeconds * 1000.0}};
}

} // namespace Workloads
