#include "ledger.h"

#include "childrun.h"
#include "procstats.h"

#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// Late duplicates would show within this time after the last answer.
constexpr int kGraceMs = 200;
// How long past the cap the event loop may stay held before the watchdog reports.
constexpr int kWatchdogMs = 3000;

} // namespace

Ledger::Ledger(LoadClient &clientIn, int iRequests)
    : client(clientIn), vAnswers(iRequests, 0), iCpuStartNs(ProcStats::cpuNs())
{
    client.answered = [this](int iRequest, bool bOk) { note(iRequest, bOk); };
    timer.start();
}

void Ledger::note(int iRequest, bool bOk)
{
    if (vAnswers[iRequest]++ > 0) {
        ++iDuplicates;
        return;
    }
    iFailures += bOk ? 0 : 1;
    if (++iAnswered == vAnswers.size()) {
        prStopClock();
        loop.quit();
    }
    if (afterAnswer)
        afterAnswer(iRequest);
}

void Ledger::prStopClock()
{
    qint64 iUnset = -1;
    if (iEndNs.compare_exchange_strong(iUnset, timer.nsecsElapsed()))
        iCpuEndNs = ProcStats::cpuNs();
}

void Ledger::wait(int iCapMs)
{
    std::mutex mutex;
    std::condition_variable wakeUp;
    bool bReturned = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        const auto deadline = std::chrono::milliseconds(iCapMs + kWatchdogMs - timer.elapsed());
        if (wakeUp.wait_for(lock, deadline, [&] { return bReturned; }))
            return;
        QJsonObject held = result();
        held.insert("loopHeld", true);
        reportAndExit(held);
    });

    if (iAnswered < vAnswers.size()) {
        QTimer cap;
        cap.setSingleShot(true);
        QObject::connect(&cap, &QTimer::timeout, &loop, &QEventLoop::quit);
        cap.start(int(qMax<qint64>(0, iCapMs - timer.elapsed())));
        loop.exec();
    }
    if (iAnswered == vAnswers.size()) {
        QTimer::singleShot(kGraceMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    prStopClock();
    {
        std::lock_guard<std::mutex> lock(mutex);
        bReturned = true;
    }
    wakeUp.notify_one();
    watchdog.join();
}

QJsonObject Ledger::result() const
{
    const qint64 iEnd = iEndNs >= 0 ? iEndNs.load() : timer.nsecsElapsed();
    const qint64 iCpuEnd = iCpuEndNs >= 0 ? iCpuEndNs.load() : ProcStats::cpuNs();
    QJsonObject result = extras ? extras() : QJsonObject();
    result.insert("requests", vAnswers.size());
    result.insert("answered", iAnswered.load());
    result.insert("failures", iFailures.load());
    result.insert("duplicates", iDuplicates + client.unexpectedAnswers());
    result.insert("complete", iAnswered == vAnswers.size());
    result.insert("elapsedMs", double(iEnd) / 1e6);
    result.insert("cpuMs", double(iCpuEnd - iCpuStartNs) / 1e6);
    result.insert("peakRssKib", double(ProcStats::peakRssKib()));
    return result;
}
