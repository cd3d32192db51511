#include "soakrun.h"

#include "deviceapiinterface.h"
#include "heapmeter.h"
#include "submitter.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QPluginLoader>

#include <climits>
#include <cstdio>

namespace {

constexpr int kPumpMs = 2;
constexpr int kChurnEveryMs = 20;
// A few ticks of the plugin, so that what it scheduled for deletion is gone before the heap is read.
constexpr int kSettleMs = 400;
// Long enough for the teardown's requests to be handed over and under way.
constexpr int kTeardownDelayMs = 500;

bool writeFile(const QString &sPath, const QByteArray &baContent)
{
    QFile file(sPath);
    return file.open(QIODevice::WriteOnly) && file.write(baContent) == baContent.size();
}

} // namespace

SoakRun::SoakRun(Options optionsIn, QObject *parent) : QObject(parent), options(std::move(optionsIn))
{
    rng.seed(options.iSeed);
    QVector<int> vAllowed;
    for (const ChaosPlan::Kind &kind : ChaosPlan::kinds())
        vAllowed.append(kind.iAllowed);
    pLedger = std::make_unique<Ledger>(vAllowed);
    pump.setInterval(kPumpMs);
    connect(&pump, &QTimer::timeout, this, &SoakRun::prPump);
}

SoakRun::~SoakRun()
{
    if (pSubmitter)
        pSubmitter->stop();
}

SoakRun::Report SoakRun::run()
{
    if (!prSetUp())
        return report;
    QEventLoop loop;
    pLoop = &loop;
    clock.start();
    iLimit = qMax(1, options.iRequests / 10);
    iThreadLimit = iLimit;
    pSubmitter = std::make_unique<Submitter>(*this, options.iSeed + 1);
    pSubmitter->start();
    pump.start();
    loop.exec();
    pLoop = nullptr;
    fleet.stop();
    return report;
}

bool SoakRun::prSetUp()
{
    if (!prSetUpFiles() || !fleet.start(options.sDeviceSim, options.iDevices, &report.sError) ||
        !prPlanDevices())
        return false;
    if (!options.sLogFile.isEmpty()) {
        pLogFile = std::make_unique<QFile>(options.sLogFile);
        if (!pLogFile->open(QIODevice::WriteOnly)) {
            report.sError =
                QStringLiteral("cannot write %1: %2").arg(options.sLogFile, pLogFile->errorString());
            return false;
        }
    }
    report.iHeapBeforeLoad = HeapMeter::liveBytes();
    if (!prLoadPlugin())
        return false;
    prRegisterDevices();
    return true;
}

bool SoakRun::prSetUpFiles()
{
    if (!tmp.isValid()) {
        report.sError = QStringLiteral("no temporary directory: %1").arg(tmp.errorString());
        return false;
    }
    files.sFirmware = tmp.filePath(QStringLiteral("firmware.bin"));
    files.sSettings = tmp.filePath(QStringLiteral("settings.ndb"));
    files.sBackupDir = tmp.filePath(QStringLiteral("backups")) + QLatin1Char('/');
    files.sForbidden = tmp.filePath(QStringLiteral("never-written"));
    sLargeUpload = tmp.filePath(QStringLiteral("large-firmware.bin"));
    if (!QDir().mkpath(files.sBackupDir) || !writeFile(files.sFirmware, QByteArray(64 * 1024, 'f')) ||
        !writeFile(files.sSettings, QByteArray(4 * 1024, 's')) ||
        !writeFile(sLargeUpload, QByteArray(8 * 1024 * 1024, 'F'))) {
        report.sError = QStringLiteral("cannot write the soak's files in %1").arg(tmp.path());
        return false;
    }
    return true;
}

// As a host does it: the loader, the cast through the interface id, the signals, its own access manager.
// The inactivity limit is the plugin's, read from the environment when it is initialised.
bool SoakRun::prLoadPlugin()
{
    const QByteArray baTimeout = QByteArray::number(options.iTimeoutMs);
    qputenv("KESTROL_TRANSFER_TIMEOUT_MS", baTimeout);
    qputenv("KESTROL_UPLOAD_TIMEOUT_MS", baTimeout);
    pLoader = std::make_unique<QPluginLoader>(options.sPlugin);
    pInstance = pLoader->instance();
    pApi = qobject_cast<DeviceApiInterface *>(pInstance.data());
    if (!pApi) {
        report.sError = QStringLiteral("cannot load %1: %2").arg(options.sPlugin, pLoader->errorString());
        return false;
    }
    connect(pApi, &DeviceApiInterface::signal_apiResponse, this, &SoakRun::onResponse);
    connect(pApi, &DeviceApiInterface::signal_log, this, &SoakRun::onLog);
    pManager = std::make_unique<QNetworkAccessManager>();
    pApi->initApiPlugin(pManager.get());
    return true;
}

bool SoakRun::submitFromThread(QRandomGenerator &rngThread)
{
    const int iLimitNow = iThreadLimit.load();
    if (iLimitNow == 0 || options.iThreadPercent <= 0)
        return false;
    if (qint64(pLedger->submittedByThread()) * 100 >
        qint64(options.iThreadPercent) * (pLedger->submitted() + 1))
        return false;
    return prSubmit(rngThread, true, iLimitNow, options.iWindow);
}

bool SoakRun::prSubmit(QRandomGenerator &rngUsed, bool bThread, int iLimitNow, int iWindow)
{
    const SoakDevice &device = vDevices.at(int(rngUsed.bounded(quint32(vDevices.size()))));
    QString sDeviceId = device.sId;
    const int iDraw = int(rngUsed.bounded(1u << 30));
    Ledger::Entry entry;
    entry.bThread = bThread;
    ChaosPlan::Command command;
    if (int(rngUsed.bounded(100u)) < options.iHostilePercent) {
        command = ChaosPlan::hostileCommand(iDraw, files, &sDeviceId);
        entry.iKind = ChaosPlan::hostileKind();
    } else {
        command = ChaosPlan::deviceCommand(iDraw, files);
        entry.iKind = device.iKind;
    }
    entry.bOneElement = command.bOneElement;
    entry.bBackup = command.bBackup;
    DeviceApiInterface *pTarget = pApi;
    return pLedger->submit(
        iLimitNow, iWindow,
        [&] {
            const QString sUuid = pTarget->requestApiCommand(sDeviceId, command.sName, command.lParam);
            prWriteLog(QStringLiteral("submit\t%1\t%2\t%3\t%4")
                           .arg(sUuid, QLatin1String(ChaosPlan::kinds().at(entry.iKind).pcName),
                                command.sName, sDeviceId));
            return sUuid;
        },
        entry);
}

void SoakRun::onResponse(QString sUuid, int iError, QVariantList lResult)
{
    prWriteLog(QStringLiteral("answer\t%1\t%2").arg(sUuid).arg(iError));
    const QString sBackup = pLedger->answer(sUuid, iError, lResult);
    if (!sBackup.isEmpty())
        QFile::remove(sBackup);
}

void SoakRun::onLog(int, QString sMessage)
{
    prWriteLog(sMessage);
    if (sMessage.contains(QLatin1String(SimFleet::kPassword)) ||
        sMessage.contains(QLatin1String(SimFleet::kWrongPassword)))
        ++report.iPasswordLines;
}

// Both submitting threads write to the log.
void SoakRun::prWriteLog(const QString &sLine)
{
    if (!pLogFile)
        return;
    QMutexLocker locker(&logMutex);
    pLogFile->write(sLine.toUtf8() + '\n');
}

void SoakRun::prPump()
{
    if (phase == Phase::Running) {
        // The host thread keeps to its share, so the second thread always gets its own.
        const int iMainShare = 100 - qMax(0, options.iThreadPercent);
        for (int i = 0; i < 64; ++i) {
            const int iSubmitted = pLedger->submitted();
            if (qint64(iSubmitted - pLedger->submittedByThread()) * 100 >
                    qint64(iMainShare) * (iSubmitted + 1) ||
                !prSubmit(rng, false, iLimit, options.iWindow))
                break;
        }
        if (clock.elapsed() >= iNextChurnMs) {
            prChurn();
            iNextChurnMs = clock.elapsed() + kChurnEveryMs;
        }
        const int iAnswered = pLedger->submitted() - pLedger->outstanding();
        if (iAnswered >= iNextProgress) {
            std::fprintf(stderr, "soak: %d of %d answered, %lld s\n", iAnswered, options.iRequests,
                         clock.elapsed() / 1000);
            iNextProgress += qMax(1, options.iRequests / 10);
        }
        if (pLedger->submitted() >= iLimit) {
            phase = Phase::Draining;
            iDrainDeadlineMs = clock.elapsed() + qMax(60000, 10 * options.iTimeoutMs);
        }
        prCheckClock();
    } else if (phase == Phase::Draining) {
        if (pLedger->outstanding() == 0) {
            phase = Phase::Settling;
            QTimer::singleShot(kSettleMs, this, &SoakRun::prCheckpoint);
        } else if (clock.elapsed() > iDrainDeadlineMs) {
            pLedger->markMissing();
            prCheckpoint();
        }
    }
}

// The run's time is bounded: past it, no more requests go out and the soak ends with those it has.
void SoakRun::prCheckClock()
{
    if (clock.elapsed() < qint64(options.iMaxSeconds) * 1000)
        return;
    report.bTimedOut = true;
    bWarmMeasured = true;
    iLimit = pLedger->submitted();
    iThreadLimit = 0;
}

// Every request answered and the plugin's deferred deletions done: the heap holds what the plugin keeps,
// and what the access manager keeps in its connection pools. Qt 5.15 gives each pool one TLS context and
// keeps every TLS 1.3 session it receives in that context's cache until the pool has been unused for two
// minutes, so the pools grow with each new HTTPS connection; dropping them (safe with nothing in flight)
// tells the two apart.
void SoakRun::prCheckpoint()
{
    const qint64 iLive = HeapMeter::liveBytes();
    pManager->clearConnectionCache();
    QTimer::singleShot(kSettleMs, this, [this, iLive] { prMeasured(iLive); });
}

void SoakRun::prMeasured(qint64 iLive)
{
    Report::Memory &memory = bWarmMeasured ? report.end : report.warm;
    memory.iLive = iLive;
    memory.iPools = iLive - HeapMeter::liveBytes();
    memory.iRssKib = HeapMeter::residentKib();
    if (bWarmMeasured) {
        prTearDown();
        return;
    }
    bWarmMeasured = true;
    iLimit = options.iRequests;
    iThreadLimit = iLimit;
    phase = Phase::Running;
    prCheckClock();
}

// The host destroys the plugin while transfers of every kind are under way: large uploads (some to devices
// that never answer), backups being written, reads.
void SoakRun::prTearDown()
{
    report.figures = pLedger->figures();
    phase = Phase::Teardown;
    pump.stop();
    iThreadLimit = 0;
    pSubmitter->stop();
    DeviceApiInterface *pTarget = pApi;
    for (int i = 0; i < options.iTeardownRequests; ++i) {
        const SoakDevice &device = vDevices.at(i % vDevices.size());
        const ChaosPlan::Command command =
            i % 3 == 0 ? ChaosPlan::Command{QStringLiteral("API_CMD_FIRMWARE_UPDATE"), {sLargeUpload}}
                       : ChaosPlan::deviceCommand(int(rng.bounded(1u << 30)), files);
        Ledger::Entry entry;
        entry.iKind = device.iKind;
        pLedger->submit(
            INT_MAX, INT_MAX,
            [&] { return pTarget->requestApiCommand(device.sId, command.sName, command.lParam); }, entry);
    }
    QTimer::singleShot(kTeardownDelayMs, this, [this] {
        report.iInFlightAtTeardown = pLedger->outstanding();
        delete pInstance.data();
        pApi = nullptr;
        pLedger->tearDown();
        QTimer::singleShot(kSettleMs, this, &SoakRun::prFinish);
    });
}

void SoakRun::prFinish()
{
    // The host's access manager goes last, with whatever replies it still holds.
    pManager.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    report.iHeapAfterDestruction = HeapMeter::liveBytes();
    report.figures.iAfterTeardown = pLedger->figures().iAfterTeardown;
    report.iLeftoverFiles = QDir(files.sBackupDir).entryList(QDir::Files | QDir::Hidden).size() +
                            (QFile::exists(files.sForbidden) ? 1 : 0);
    report.iSeconds = clock.elapsed() / 1000;
    pLoop->quit();
}
