// A process started by the benchmark that the kernel ends when the benchmark ends, however it ends, so that
// no simulator or measured client outlives an interrupted or crashed run.
#pragma once

#include <QProcess>

class ChildProcess : public QProcess
{
public:
    ChildProcess();

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
protected:
    void setupChildProcess() override;
#endif
};
