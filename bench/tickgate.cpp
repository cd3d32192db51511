#include "tickgate.h"

TickGate::TickGate(bool bTickIn) : bTick(bTickIn)
{
    if (!bTick)
        return;
    tick.setInterval(100);
    QObject::connect(&tick, &QTimer::timeout, [this] {
        QList<std::function<void()>> lTaken;
        lTaken.swap(lWaiting);
        for (const std::function<void()> &send : qAsConst(lTaken))
            send();
    });
    tick.start();
}

void TickGate::later(std::function<void()> send)
{
    if (bTick)
        lWaiting.append(std::move(send));
    else
        send();
}
