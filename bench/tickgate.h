// Sends at the next tick of a 100 ms host timer, as the plugin does, or at once without a tick.
#pragma once

#include <QList>
#include <QTimer>

#include <functional>

class TickGate
{
public:
    explicit TickGate(bool bTick);
    void later(std::function<void()> send);

private:
    QTimer tick;
    QList<std::function<void()>> lWaiting;
    bool bTick;
};
