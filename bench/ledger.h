// Book of one workload's answers: each request must be answered exactly once and as the device serves it.
// Also the clock and CPU meter of the workload, read when the last answer arrives or the cap ends it.
#pragma once

#include "loadclient.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonObject>
#include <QVector>

#include <atomic>
#include <functional>

class Ledger
{
public:
    Ledger(LoadClient &client, int iRequests);
    // Runs the event loop until every request is answered or iCapMs have passed since construction. When
    // something holds the event loop past the cap, a watchdog thread reports result() and ends the process.
    void wait(int iCapMs);
    qint64 elapsedNs() const { return timer.nsecsElapsed(); }
    // requests, answered, failures, duplicates, complete, elapsedMs, cpuMs, peakRssKib, and extras().
    QJsonObject result() const;

    // Called after each first answer of a request, with the request's number.
    std::function<void(int iRequest)> afterAnswer;
    // Figures of the workload itself; also called from the watchdog thread, so it reads only atomics or
    // values fixed before wait().
    std::function<QJsonObject()> extras;

private:
    void note(int iRequest, bool bOk);
    void prStopClock();

    LoadClient &client;
    QEventLoop loop;
    QElapsedTimer timer;
    QVector<quint8> vAnswers;
    const qint64 iCpuStartNs;
    std::atomic<int> iAnswered{0};
    std::atomic<int> iFailures{0};
    std::atomic<int> iDuplicates{0};
    std::atomic<qint64> iEndNs{-1};
    std::atomic<qint64> iCpuEndNs{-1};
};
