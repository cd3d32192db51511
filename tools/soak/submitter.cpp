#include "submitter.h"

#include "soakrun.h"

#include <QRandomGenerator>

Submitter::Submitter(SoakRun &run, quint32 iSeedIn) : soak(run), iSeed(iSeedIn) {}

void Submitter::stop()
{
    bStop = true;
    wait();
}

void Submitter::run()
{
    QRandomGenerator rng(iSeed);
    while (!bStop) {
        if (!soak.submitFromThread(rng))
            QThread::msleep(1);
    }
}
