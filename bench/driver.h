// The benchmark's parent process: starts the simulators, runs every workload once with the hand-written host
// and once with the plugin, each in a child process of its own, and prints the figures side by side.
#pragma once

#include "figures.h"
#include "simfarm.h"

#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

struct BenchSettings
{
    QStringList lModes;
    double dScale = 1;
    int iCapMs = 60000;
    int iServers = 16;
    qint64 iTransferBytes = 0;
    QString sPluginPath;
};

class Driver
{
public:
    explicit Driver(BenchSettings settings);
    // 0: every goal met; 1: a goal missed; 3: the benchmark could not run.
    int run();

private:
    struct ChildRun
    {
        QJsonObject result;
        double dServerShare = 0; // CPU of all simulators over the measured time, in % of one core
        QString sError;
        bool isComplete() const { return sError.isEmpty() && result.value("complete").toBool(); }
    };

    int prScaled(int iCount) const;
    bool prWants(const QString &sMode) const;
    ChildRun prRunChild(const QString &sLabel, QJsonObject spec, int iHardCapMs);
    QJsonObject prSpec(const QString &sWorkload, const QString &sClient, int iDevices) const;

    void prBurst(const QString &sMode, int iRequests, int iDevices, bool bWithLateness);
    void prChain();
    void prPaced();
    void prIdle();
    void prBackup();
    void prUpload();
    void prAddServerShare(FigureTable &table, const ChildRun &reference, const ChildRun &plugin);

    BenchSettings settings;
    SimFarm farm;
    QTemporaryDir workDir;
    QString sUrlsFile;
    QList<Figure> lFigures;
};
