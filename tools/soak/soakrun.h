// The soak as a host runs it: the plugin loaded through QPluginLoader onto the host's own access manager,
// devices of every fault kind on simulators in other processes, requests from the host's thread and from
// a second thread, devices deleted and changed while their requests are in flight, and in the end the
// plugin destroyed with transfers under way.
#pragma once

#include "chaosplan.h"
#include "ledger.h"
#include "simfleet.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>

#include <atomic>
#include <memory>

class DeviceApiInterface;
class QEventLoop;
class QFile;
class QNetworkAccessManager;
class QPluginLoader;
class Submitter;

class SoakRun : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        int iRequests = 20000;
        int iDevices = 200;
        int iWindow = 300;       // requests outstanding at once
        int iThreadPercent = 9;  // of the requests, submitted by the second thread
        int iHostilePercent = 3; // of the requests, bad input of the host
        int iTimeoutMs = 2000;   // the plugin's inactivity limit for the run
        int iMaxSeconds = 3600;  // the whole run, teardown excluded
        int iTeardownRequests = 150;
        double dMaxHeapGrowth = -1; // percent; negative: not checked
        quint32 iSeed = 1;
        QString sPlugin;
        QString sDeviceSim;
        QString sLogFile;   // non-empty: every log line and every answer go there
        QStringList lKinds; // fault kinds of the devices; empty: all
    };

    struct Report
    {
        Ledger::Figures figures;
        qint64 iSeconds = 0;
        // At a moment with nothing in flight: the live heap, the part of it that the host's access manager
        // kept in its connection pools (freed by dropping them), and resident memory.
        struct Memory
        {
            qint64 iLive = 0;
            qint64 iPools = 0;
            qint64 iRssKib = 0;
            qint64 withoutPools() const { return iLive - iPools; }
        };
        Memory warm; // after the first tenth of the requests
        Memory end;
        qint64 iHeapBeforeLoad = 0, iHeapAfterDestruction = 0;
        int iInFlightAtTeardown = 0;
        int iChurnOperations = 0;
        int iPasswordLines = 0; // log lines holding a device password
        int iLeftoverFiles = 0; // files in the backup directory at the end, or the forbidden file
        bool bTimedOut = false;
        QString sError; // the run could not be set up
    };

    SoakRun(Options options, QObject *parent = nullptr);
    ~SoakRun() override;

    // Runs the whole soak in its own event loop.
    Report run();

    // For the second thread: one request if the thread is behind its share; false when it may not submit.
    bool submitFromThread(QRandomGenerator &rng);

private slots:
    void onResponse(QString sUuid, int iError, QVariantList lResult);
    void onLog(int iLevel, QString sMessage);

private:
    enum class Phase
    {
        Running,
        Draining,
        Settling,
        Teardown,
    };

    struct SoakDevice
    {
        QString sId;
        int iKind = 0;
        QString sUrl;
        QString sOtherUrl; // churn: the same device on another simulator
        QString sPassword;
        QVariantList lParam;
        bool bPresent = true;
    };

    bool prSetUp();
    bool prSetUpFiles();
    bool prPlanDevices();
    bool prLoadPlugin();
    void prRegisterDevices();
    bool prSubmit(QRandomGenerator &rng, bool bThread, int iLimit, int iWindow);
    void prPump();
    void prChurn();
    void prCheckpoint();
    void prMeasured(qint64 iLive);
    void prTearDown();
    void prFinish();
    void prCheckClock();
    void prWriteLog(const QString &sLine);

    Options options;
    Report report;
    ChaosPlan::Files files;
    QTemporaryDir tmp;
    SimFleet fleet;
    QVector<SoakDevice> vDevices;
    QVector<int> vChurnDevices;
    QVector<bool> vPresent; // churn devices are deleted now and then
    QString sLargeUpload;   // uploads under way when the plugin is destroyed
    std::unique_ptr<Ledger> pLedger;
    std::unique_ptr<QNetworkAccessManager> pManager;
    std::unique_ptr<QPluginLoader> pLoader;
    QPointer<QObject> pInstance;
    DeviceApiInterface *pApi = nullptr;
    std::unique_ptr<Submitter> pSubmitter;
    QRandomGenerator rng;
    QTimer pump;
    QEventLoop *pLoop = nullptr;
    std::unique_ptr<QFile> pLogFile;
    QMutex logMutex;
    QElapsedTimer clock;
    qint64 iNextChurnMs = 0;
    qint64 iDrainDeadlineMs = 0;
    int iLimit = 0; // submissions allowed so far: the warm-up checkpoint, then all
    int iNextProgress = 0;
    std::atomic<int> iThreadLimit{0}; // 0 while the second thread must not submit
    Phase phase = Phase::Running;
    bool bWarmMeasured = false;
};
