// The second thread of the host: it submits its share of the soak's requests with requestApiCommand, which a
// host may call from any thread.
#pragma once

#include <QThread>

#include <atomic>

class SoakRun;

class Submitter : public QThread
{
public:
    Submitter(SoakRun &run, quint32 iSeed);
    void stop();

protected:
    void run() override;

private:
    SoakRun &soak;
    const quint32 iSeed;
    std::atomic<bool> bStop{false};
};
