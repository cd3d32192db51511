// The benchmark's parent process: starts the simulators, runs every workload with the hand-written host and
// with the plugin, each run in a child process of its own, and prints the figures side by side.
#pragma once

#include "figures.h"
#include "simfarm.h"

#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

struct BenchSettings
{
    QStringList lModes;
    double dScale = 1;
    int iCapMs = 60000;
    int iServers = 16;
    int iRepeat = 1;
    qint64 iTransferBytes = 0;
    QString sTransferDir;
    QString sPluginPath;
};

class Driver
{
public:
    explicit Driver(BenchSettings settings);
    // 0: every goal met; 1: a goal missed; 3: the benchmark could not run or was interrupted.
    int run();

private:
    // Time a child gets beyond its cap for starting, registering devices and reporting.
    static constexpr int kChildSlackMs = 60000;

    struct ChildRun
    {
        QJsonObject result;
        double dServerShare = 0; // CPU of all simulators over the measured time, in % of one core
        QString sError;
        bool isComplete() const { return sError.isEmpty() && result.value("complete").toBool(); }
        double value(const char *pcKey) const;
        double rate() const;          // answers per second
        double cpuPerRequest() const; // ms
        int answeredOk() const;
        bool isBetterThan(const ChildRun &other) const;
    };

    int prScaled(int iCount) const;
    bool prWants(const QString &sMode) const;
    ChildRun prRunChild(const QString &sLabel, const QJsonObject &spec, int iHardCapMs);
    // Runs spec once per client, all of them iRounds times in turn; the best run of each client. Empty when
    // a run failed, after a figure that says so.
    QList<ChildRun> prRunClients(FigureTable &table, QJsonObject spec, const QStringList &lClients,
                                 int iRounds, int iHardCapMs);
    QJsonObject prSpec(const QString &sWorkload, int iDevices) const;

    void prBurst(const QString &sMode, int iRequests, int iDevices, bool bLarge);
    void prChain();
    void prPaced();
    void prIdle();
    void prTimeouts();
    void prTransfer(const QString &sMode);
    static void prAddServerShare(FigureTable &table, const ChildRun &reference, const ChildRun &plugin);

    BenchSettings settings;
    SimFarm farm;
    QTemporaryDir workDir;
    std::unique_ptr<QTemporaryDir> pTransferDir;
    QString sUrlsFile;
    QList<Figure> lFigures;
};
