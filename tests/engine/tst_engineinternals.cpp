// The command engine seen from inside: what one tick sends and in which order, what stays in the tables,
// how a two-step command moves through them, a burst over many devices, and the settings export paths.
#include "apikestrolplugin.h"
#include "apirequestcommand.h"
#include "devicesim.h"
#include "hostrecorder.h"
#include "kestroldevice.h"
#include "settingsexport.h"
#include "testfiles.h"

#include <QDir>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

class TestPlugin : public ApiKestrolPlugin
{
public:
    using ApiKestrolPlugin::hSentRequests;
    using ApiKestrolPlugin::mutexRequests;
    using ApiKestrolPlugin::prApiCertificateLogin;
    using ApiKestrolPlugin::pTimer;

    void tick() { QMetaObject::invokeMethod(this, "onTimer", Qt::DirectConnection); }
    QList<QSharedPointer<ApiRequestCommand>> queued()
    {
        QMutexLocker locker(&mutexRequests);
        return lNewRequests;
    }
    KestrolDevice *device(const QString &sId) const { return qobject_cast<KestrolDevice *>(getDevice(sId)); }
};

// The identifiers of the transport's "Send ..." lines, in order.
QStringList sentIdentifiers(const QStringList &lLogs)
{
    static const QRegularExpression sendLine(
        QStringLiteral("^Send (?:get|post)-request: .* \\((\\{.*\\})\\)$"));
    QStringList lIds;
    for (const QString &sLine : lLogs) {
        const QRegularExpressionMatch match = sendLine.match(sLine);
        if (match.hasMatch())
            lIds << match.captured(1);
    }
    return lIds;
}

} // namespace

class TstEngineInternals : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void oneTickSendsEverythingInOrder();
    void rejectedRequestsLeaveNoTrace();
    void secondStepKeepsIdentifier_data();
    void secondStepKeepsIdentifier();
    void deviceGoneBeforeSecondStep();
    void submissionDuringTickWaitsForNextTick();
    void answerComesAfterRemoval();
    void burstOverManyDevices();
    void handOver_data();
    void handOver();

    void downloadUrl_data();
    void downloadUrl();
    void destination_data();
    void destination();

private:
    QString addDevice(const QString &sId);

    devicesim::Simulator simulator;
    std::unique_ptr<TestPlugin> pPlugin;
    std::unique_ptr<HostRecorder> pHost;
    std::unique_ptr<QTemporaryDir> pTemp;
};

void TstEngineInternals::initTestCase()
{
    QVERIFY(simulator.start());
}

void TstEngineInternals::init()
{
    simulator.clearRequests();
    pPlugin = std::make_unique<TestPlugin>();
    pHost = std::make_unique<HostRecorder>(pPlugin.get());
    pPlugin->initApiPlugin(nullptr);
    // Ticks are driven by hand unless a test restarts the timer.
    pPlugin->pTimer->stop();
    pTemp = std::make_unique<QTemporaryDir>();
}

void TstEngineInternals::cleanup()
{
    pHost.reset();
    pPlugin.reset();
}

QString TstEngineInternals::addDevice(const QString &sId)
{
    const QString sBaseUrl = simulator.addDevice(sId);
    pPlugin->createDevice(sId, sBaseUrl, "admin", "secret", {});
    return sId;
}

void TstEngineInternals::oneTickSendsEverythingInOrder()
{
    const QString sId = addDevice("order");
    const QStringList lUuids{pPlugin->requestApiCommand(sId, "API_CMD_GET_CONFIG", {}),
                             pPlugin->requestApiCommand(sId, "API_CMD_RESTART", {}),
                             pPlugin->requestApiCommand(sId, "API_CMD_SNAPSHOT", {1}),
                             pPlugin->requestApiCommand(sId, "API_CMD_LOGIN_CHECK", {})};
    pPlugin->tick();

    QVERIFY(pPlugin->queued().isEmpty());
    QCOMPARE(sentIdentifiers(pHost->lLogs), lUuids);
    QCOMPARE(pPlugin->hSentRequests.size(), 4);
    QVERIFY(pHost->lAnswers.isEmpty());

    for (const QString &sUuid : lUuids)
        QVERIFY(pHost->waitFor(sUuid));
    QCOMPARE(pHost->lAnswers.size(), 4);
    QVERIFY(pPlugin->hSentRequests.isEmpty());
}

void TstEngineInternals::rejectedRequestsLeaveNoTrace()
{
    const QString sId = addDevice("reject");
    pPlugin->requestApiCommand("nosuch", "API_CMD_GET_CONFIG", {});
    pPlugin->requestApiCommand(sId, "API_CMD_NOPE", {});
    pPlugin->requestApiCommand(sId, "API_CMD_SNAPSHOT", {});
    pPlugin->prApiCertificateLogin(pPlugin->device(sId));
    pPlugin->tick();

    // Answered by the tick itself; the internal login is nobody's request and is only dropped.
    QCOMPARE(pHost->lAnswers.size(), 3);
    for (const HostAnswer &answer : qAsConst(pHost->lAnswers))
        QCOMPARE(answer.iError, 103);
    QCOMPARE(pHost->lLogs.size(), 3);
    QVERIFY(pPlugin->hSentRequests.isEmpty());
    QVERIFY(pPlugin->queued().isEmpty());
    QVERIFY(simulator.requests(sId).isEmpty());
}

void TstEngineInternals::secondStepKeepsIdentifier_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("nextCommand");
    QTest::addColumn<QString>("nextFirstParam"); // <file>: the firmware file

    QTest::newRow("settings export") << "API_CMD_SETTINGS_SAVE"
                                     << "API_CMD_INTERNAL_SETTINGS_DOWNLOAD"
                                     << "/files/export/settings.ndb";
    QTest::newRow("firmware update") << "API_CMD_FIRMWARE_UPDATE"
                                     << "API_CMD_INTERNAL_FIRMWARE_PROCESS"
                                     << "<file>";
}

void TstEngineInternals::secondStepKeepsIdentifier()
{
    QFETCH(QString, command);
    QFETCH(QString, nextCommand);
    QFETCH(QString, nextFirstParam);
    const QString sId = addDevice(QStringLiteral("steps-%1").arg(QTest::currentDataTag()).replace(' ', '-'));
    const QString sFile = pTemp->filePath("fw.bin");
    QVERIFY(writeFile(sFile, patternBytes(1000, 1)));
    nextFirstParam.replace("<file>", sFile);
    const QString sParam = command == "API_CMD_FIRMWARE_UPDATE" ? sFile : pTemp->path();

    const QString sUuid = pPlugin->requestApiCommand(sId, command, {sParam});
    pPlugin->tick();
    QTRY_COMPARE_WITH_TIMEOUT(pPlugin->queued().size(), 1, 10000);

    const QSharedPointer<ApiRequestCommand> pNext = pPlugin->queued().first();
    QCOMPARE(pNext->sUuid, sUuid);
    QCOMPARE(pNext->sCommand, nextCommand);
    QCOMPARE(pNext->lParam.value(0).toString(), nextFirstParam);
    QCOMPARE(pPlugin->hSentRequests.keys(), QStringList{sUuid});
    QCOMPARE(pPlugin->hSentRequests.value(sUuid), pNext);
    QVERIFY(pHost->lAnswers.isEmpty());

    pPlugin->tick();
    QCOMPARE(pPlugin->hSentRequests.keys(), QStringList{sUuid});
    QVERIFY(pHost->waitFor(sUuid));
    QCOMPARE(pHost->answer(sUuid).iError, 0);
    QVERIFY(pPlugin->hSentRequests.isEmpty());
    QVERIFY(pPlugin->queued().isEmpty());
}

void TstEngineInternals::deviceGoneBeforeSecondStep()
{
    const QString sId = addDevice("gone");
    const QString sUuid = pPlugin->requestApiCommand(sId, "API_CMD_SETTINGS_SAVE", {pTemp->path()});
    pPlugin->tick();
    QTRY_COMPARE_WITH_TIMEOUT(pPlugin->queued().size(), 1, 10000);
    QCOMPARE(pPlugin->deleteDevice(sId), 0);

    pPlugin->tick();
    QCOMPARE(pHost->count(sUuid), 1);
    QCOMPARE(pHost->answer(sUuid).iError, 103);
    QCOMPARE(pHost->lLogs.last(), QStringLiteral("Unknown device: gone (%1)").arg(sUuid));
    QVERIFY(pPlugin->hSentRequests.isEmpty());
    QVERIFY(QDir(pTemp->path()).isEmpty());
}

// A host slot that submits while the tick runs must find the queue free, and its request waits for the
// next tick behind nothing that came later.
void TstEngineInternals::submissionDuringTickWaitsForNextTick()
{
    const QString sId = addDevice("reentrant");
    QStringList lInner;
    bool bQueueLocked = false;
    pHost->onLogLine = [&](const QString &sLine) {
        if (!sLine.startsWith("Got new get-request: ") || lInner.size() == 2)
            return;
        if (!pPlugin->mutexRequests.tryLock()) {
            bQueueLocked = true;
            return;
        }
        pPlugin->mutexRequests.unlock();
        lInner << pPlugin->requestApiCommand(sId, "API_CMD_LOGIN_CHECK", {});
    };

    const QString sOuter = pPlugin->requestApiCommand(sId, "API_CMD_GET_CONFIG", {});
    pPlugin->tick();
    QVERIFY(!bQueueLocked);
    QCOMPARE(lInner.size(), 1);
    QCOMPARE(pPlugin->hSentRequests.keys(), QStringList{sOuter});
    QCOMPARE(pPlugin->queued().size(), 1);
    QCOMPARE(pPlugin->queued().first()->sUuid, lInner.first());

    pPlugin->tick();
    QCOMPARE(lInner.size(), 2);
    QCOMPARE(sentIdentifiers(pHost->lLogs), (QStringList{sOuter, lInner.at(0)}));
    pPlugin->tick();
    QCOMPARE(sentIdentifiers(pHost->lLogs), (QStringList{sOuter, lInner.at(0), lInner.at(1)}));
    for (const QString &sUuid : QStringList{sOuter, lInner.at(0), lInner.at(1)})
        QVERIFY(pHost->waitFor(sUuid));
}

void TstEngineInternals::answerComesAfterRemoval()
{
    const QString sId = addDevice("removal");
    QStringList lStillPending;
    pHost->onAnswerHook = [&](const HostAnswer &answer) {
        if (pPlugin->hSentRequests.contains(answer.sUuid))
            lStillPending << answer.sUuid;
    };
    const QStringList lUuids{pPlugin->requestApiCommand(sId, "API_CMD_GET_CONFIG", {}),
                             pPlugin->requestApiCommand(sId, "API_CMD_SETTINGS_SAVE", {"/nonexistent-dir/"}),
                             pPlugin->requestApiCommand(sId, "API_CMD_SNAPSHOT", {})};
    pPlugin->pTimer->start();
    for (const QString &sUuid : lUuids)
        QVERIFY(pHost->waitFor(sUuid));
    QCOMPARE(pHost->answer(lUuids.at(1)).iError, 103);
    QCOMPARE(lStillPending, QStringList{});
}

void TstEngineInternals::burstOverManyDevices()
{
    const QString sBusy = addDevice("busy");
    QStringList lUuids;
    for (int i = 0; i < 500; ++i)
        lUuids << pPlugin->requestApiCommand(sBusy, i % 2 ? "API_CMD_GET_CONFIG" : "API_CMD_LOGIN_CHECK", {});
    for (int i = 0; i < 500; ++i)
        addDevice(QStringLiteral("v%1").arg(i));
    for (int i = 0; i < 2500; ++i)
        lUuids << pPlugin->requestApiCommand(QStringLiteral("v%1").arg(i % 500),
                                             i % 4 ? "API_CMD_GET_CONFIG" : "API_CMD_SNAPSHOT", {1});
    pPlugin->pTimer->start();

    QVERIFY(QTest::qWaitFor([&] { return pHost->lAnswers.size() >= lUuids.size(); }, 60000));
    QTest::qWait(200);
    QCOMPARE(pHost->lAnswers.size(), lUuids.size());
    QSet<QString> lAnswered;
    for (const HostAnswer &answer : qAsConst(pHost->lAnswers)) {
        QCOMPARE(answer.iError, 0);
        lAnswered.insert(answer.sUuid);
    }
    QCOMPARE(lAnswered, QSet<QString>(lUuids.cbegin(), lUuids.cend()));
    QVERIFY(pPlugin->hSentRequests.isEmpty());
    QVERIFY(pPlugin->queued().isEmpty());
}

void TstEngineInternals::handOver_data()
{
    QTest::addColumn<int>("submitAt");     // the answer in whose slot the host submits more; 0: none
    QTest::addColumn<int>("nestedLoopAt"); // the answer in whose slot the host runs an event loop; 0: none

    QTest::newRow("burst") << 0 << 0;
    QTest::newRow("host submits during the hand-over") << 60000 << 0;
    QTest::newRow("host submits and runs an event loop") << 60000 << 60000;
}

// A burst larger than one hand-over leaves the host's event loop free in between (its timer keeps firing),
// and neither the split, nor a tick or a nested event loop in between, reorders or repeats a request.
void TstEngineInternals::handOver()
{
    QFETCH(int, submitAt);
    QFETCH(int, nestedLoopAt);
    QStringList lSubmitted;
    QStringList lAnswered;
    int iHostTimerFired = 0;
    QTimer hostTimer;
    hostTimer.setInterval(10);
    connect(&hostTimer, &QTimer::timeout,
            [&] { iHostTimerFired += !lAnswered.isEmpty() && lAnswered.size() < lSubmitted.size() ? 1 : 0; });
    connect(pPlugin.get(), &DeviceApiInterface::signal_apiResponse, [&](const QString &sUuid) {
        lAnswered << sUuid;
        if (lAnswered.size() == submitAt) {
            for (int i = 0; i < 10; ++i)
                lSubmitted << pPlugin->requestApiCommand("nosuch", "API_CMD_GET_CONFIG", {});
        }
        if (lAnswered.size() == nestedLoopAt) {
            QEventLoop loop;
            QTimer::singleShot(250, &loop, &QEventLoop::quit);
            loop.exec();
        }
    });

    // Unknown devices: every request is answered as it is handed over, in hand-over order.
    for (int i = 0; i < 100000; ++i)
        lSubmitted << pPlugin->requestApiCommand(QStringLiteral("nosuch%1").arg(i % 7), "API_CMD_GET_CONFIG",
                                                 {});
    pPlugin->pTimer->start();
    hostTimer.start();
    QTRY_COMPARE_WITH_TIMEOUT(lAnswered.size(), lSubmitted.size(), 60000);
    QTest::qWait(250);
    QCOMPARE(lAnswered.size(), lSubmitted.size());
    QVERIFY(lAnswered == lSubmitted);
    QVERIFY2(iHostTimerFired >= 3, qPrintable(QString::number(iHostTimerFired)));
}

void TstEngineInternals::downloadUrl_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("url"); // empty: refused

    const QString sBase = "http://127.0.0.1:8080/dev/7";
    QTest::newRow("path") << sBase << "/files/a.ndb" << sBase + "/files/a.ndb";
    QTest::newRow("path without slash") << sBase << "files/a.ndb" << sBase + "/files/a.ndb";
    QTest::newRow("base with slash") << sBase + "//"
                                     << "//files/a.ndb" << sBase + "/files/a.ndb";
    QTest::newRow("backslashes") << sBase << "\\files\\a.ndb" << sBase + "/files/a.ndb";
    QTest::newRow("host-relative form stays on the device")
        << sBase << "//evil.example/a" << sBase + "/evil.example/a";
    QTest::newRow("own absolute url") << sBase << sBase + "/files/a.ndb" << sBase + "/files/a.ndb";
    QTest::newRow("own url, host in capitals") << sBase << "HTTP://127.0.0.1:8080/x"
                                               << "HTTP://127.0.0.1:8080/x";
    QTest::newRow("default port spelt out") << "https://cam.local/api"
                                            << "https://cam.local:443/f"
                                            << "https://cam.local:443/f";
    QTest::newRow("other host") << sBase << "http://127.0.0.2:8080/x"
                                << "";
    QTest::newRow("other port") << sBase << "http://127.0.0.1:8081/x"
                                << "";
    QTest::newRow("other scheme") << sBase << "https://127.0.0.1:8080/x"
                                  << "";
    QTest::newRow("no host") << sBase << "file:///etc/passwd"
                             << "";
    QTest::newRow("backslashed absolute url") << sBase << "http:\\\\evil.example\\x"
                                              << "";
    QTest::newRow("only slashes") << sBase << "/\\/"
                                  << "";
}

void TstEngineInternals::downloadUrl()
{
    QFETCH(QString, base);
    QFETCH(QString, value);
    QTEST(SettingsExport::downloadUrl(base, value), "url");
}

void TstEngineInternals::destination_data()
{
    QTest::addColumn<QString>("parameter"); // relative to the temporary directory, made current
    QTest::addColumn<QString>("file");      // relative to it; "*" for the generated name

    QTest::newRow("nothing") << ""
                             << "*";
    QTest::newRow("existing directory") << "sub"
                                        << "sub/*";
    QTest::newRow("directory with slash") << "sub/"
                                          << "sub/*";
    QTest::newRow("new directory named with slash") << "new/"
                                                    << "new/*";
    QTest::newRow("file") << "sub/x.ndb"
                          << "sub/x.ndb";
    QTest::newRow("file outside") << "sub/../y.ndb"
                                  << "y.ndb";
    QTest::newRow("climbing above the root") << "../../../../../../../../../../../../../..<dir>/z.ndb"
                                             << "z.ndb";
    QTest::newRow("through a linked directory") << "link/x.ndb"
                                                << "sub/x.ndb";
    QTest::newRow("linked directory") << "link"
                                      << "sub/*";
}

void TstEngineInternals::destination()
{
    QFETCH(QString, parameter);
    QFETCH(QString, file);
    const QString sDir = QDir(pTemp->path()).canonicalPath();
    QVERIFY(QDir(sDir).mkpath("sub"));
    QVERIFY(QFile::link(sDir + "/sub", sDir + "/link"));
    const QString sPrevious = QDir::currentPath();
    QDir::setCurrent(sDir);
    const QString sResolved = SettingsExport::resolveDestination(parameter.replace("<dir>", sDir));
    QDir::setCurrent(sPrevious);

    const QDateTime dtNow(QDate(2024, 3, 5), QTime(8, 9, 10, 11));
    QCOMPARE(SettingsExport::filePath(sResolved, dtNow),
             sDir + '/' + QString(file).replace("*", "20240305080910011_db.ndb"));
}

QTEST_GUILESS_MAIN(TstEngineInternals)
#include "tst_engineinternals.moc"
