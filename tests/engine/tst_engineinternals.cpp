// The command engine's scheduler seen from inside: what a tick sends or rejects and in which order, a device
// removed between the steps of a command, bursts handed over in slices with the host's event loop free in
// between; and the settings export's URL and destination rules.
#include "apikestrolplugin.h"
#include "apirequestcommand.h"
#include "devicesim.h"
#include "kestroldevice.h"
#include "settingsexport.h"

#include <QDir>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include "hostrecorder.h"
#include "testfiles.h"

#include <memory>

namespace {

class TestPlugin : public ApiKestrolPlugin
{
public:
    using ApiKestrolPlugin::hSentRequests;
    using ApiKestrolPlugin::prApiCertificateLogin;
    using ApiKestrolPlugin::pTimer;

    void tick() { QMetaObject::invokeMethod(this, "onTimer", Qt::DirectConnection); }
    int queued()
    {
        QMutexLocker locker(&mutexRequests);
        return lNewRequests.size();
    }
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

    void oneTick();
    void deviceGoneBeforeSecondStep();
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
    VERIFY_HOST_INVARIANTS(*pHost);
    pHost.reset();
    pPlugin.reset();
}

QString TstEngineInternals::addDevice(const QString &sId)
{
    pHost->createDevice(sId, simulator.addDevice(sId), "admin", "secret-password");
    return sId;
}

// One tick sends every valid request in submission order and answers the ones it rejects itself, each
// after its line; the engine's own certificate login is nobody's request and is dropped. Every answer of a
// sent request comes later, from the event loop.
void TstEngineInternals::oneTick()
{
    const QString sId = addDevice("order");
    const QStringList lSent{pHost->request(sId, "API_CMD_GET_CONFIG"),
                            pHost->request(sId, "API_CMD_RESTART")};
    const QStringList lRejected{pHost->request("nosuch", "API_CMD_GET_CONFIG"),
                                pHost->request(sId, "API_CMD_NOPE"), pHost->request(sId, "API_CMD_SNAPSHOT")};
    const QString sLast = pHost->request(sId, "API_CMD_SNAPSHOT", {1});
    pPlugin->prApiCertificateLogin(qobject_cast<KestrolDevice *>(pPlugin->getDevice(sId)));
    pPlugin->tick();

    QCOMPARE(sentIdentifiers(pHost->lLogs), lSent + QStringList{sLast});
    QCOMPARE(pPlugin->hSentRequests.size(), 3);
    for (const QString &sUuid : lRejected)
        QVERIFY(pHost->answer(sUuid).iError == 103 && pHost->lines(sUuid).size() == 1);
    for (const QString &sUuid : lSent + QStringList{sLast})
        QCOMPARE(pHost->count(sUuid), 0);
    QVERIFY(pHost->waitAll(lSent + QStringList{sLast}));
    QVERIFY(pPlugin->hSentRequests.isEmpty());
    QCOMPARE(simulator.requests(sId).size(), 3);
}

// A device deleted between the two steps of a command ends it with 103, and nothing of it stays behind.
void TstEngineInternals::deviceGoneBeforeSecondStep()
{
    const QString sId = addDevice("gone");
    const QString sUuid = pHost->request(sId, "API_CMD_SETTINGS_SAVE", {pTemp->path()});
    pPlugin->tick();
    QTRY_COMPARE_WITH_TIMEOUT(pPlugin->queued(), 1, 10000);
    QCOMPARE(pPlugin->deleteDevice(sId), 0);

    pPlugin->tick();
    QCOMPARE(pHost->count(sUuid), 1);
    QCOMPARE(pHost->answer(sUuid).iError, 103);
    QCOMPARE(pHost->lLogs.last(), QStringLiteral("Unknown device: gone (%1)").arg(sUuid));
    QVERIFY(pPlugin->hSentRequests.isEmpty());
    QCOMPARE(filesUnder(pTemp->path()), QStringList());
}

void TstEngineInternals::burstOverManyDevices()
{
    const QString sBusy = addDevice("busy");
    QStringList lUuids;
    for (int i = 0; i < 400; ++i)
        lUuids << pHost->request(sBusy, i % 2 ? "API_CMD_GET_CONFIG" : "API_CMD_LOGIN_CHECK");
    for (int i = 0; i < 250; ++i)
        addDevice(QStringLiteral("v%1").arg(i));
    for (int i = 0; i < 1500; ++i)
        lUuids << pHost->request(QStringLiteral("v%1").arg(i % 250),
                                 i % 4 ? "API_CMD_GET_CONFIG" : "API_CMD_SNAPSHOT", {1});
    pPlugin->pTimer->start();

    QVERIFY(pHost->waitAll(lUuids, 60000));
    for (const QString &sUuid : qAsConst(lUuids))
        QCOMPARE(pHost->answer(sUuid).iError, 0);
    QTRY_VERIFY(pPlugin->hSentRequests.isEmpty());
}

void TstEngineInternals::handOver_data()
{
    QTest::addColumn<int>("submitAt");     // the answer in whose slot the host submits more; 0: none
    QTest::addColumn<int>("nestedLoopAt"); // the answer in whose slot the host runs an event loop; 0: none

    QTest::newRow("burst") << 0 << 0;
    QTest::newRow("host submits during the hand-over") << 15000 << 0;
    QTest::newRow("host submits and runs an event loop") << 15000 << 15000;
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
    pHost->onAnswerHook = [&](const HostAnswer &answer) {
        lAnswered << answer.sUuid;
        if (lAnswered.size() == submitAt) {
            for (int i = 0; i < 10; ++i)
                lSubmitted << pHost->request("nosuch", "API_CMD_GET_CONFIG");
        }
        if (lAnswered.size() == nestedLoopAt) {
            QEventLoop loop;
            QTimer::singleShot(250, &loop, &QEventLoop::quit);
            loop.exec();
        }
    };

    // Unknown devices: every request is answered as it is handed over, in hand-over order.
    for (int i = 0; i < 30000; ++i)
        lSubmitted << pHost->request(QStringLiteral("nosuch%1").arg(i % 7), "API_CMD_GET_CONFIG");
    pPlugin->pTimer->start();
    hostTimer.start();
    QTRY_COMPARE_WITH_TIMEOUT(lAnswered.size(), lSubmitted.size(), 60000);
    QTest::qWait(250);
    QVERIFY(lAnswered == lSubmitted);
    QVERIFY2(iHostTimerFired >= 3, qPrintable(QString::number(iHostTimerFired)));
}

void TstEngineInternals::downloadUrl_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("url"); // empty: refused

    const QString sBase = "http://127.0.0.1:8080/dev/7";
    // clang-format off
    QTest::newRow("path without slash") << "files/a.ndb" << sBase + "/files/a.ndb";
    QTest::newRow("backslashes") << "\\files\\a.ndb" << sBase + "/files/a.ndb";
    QTest::newRow("host-relative form stays on the device") << "//evil.example/a" << sBase + "/evil.example/a";
    QTest::newRow("own url, scheme and host in capitals") << "HTTP://127.0.0.1:8080/x" << "HTTP://127.0.0.1:8080/x";
    QTest::newRow("no host") << "file:///etc/passwd" << "";
    QTest::newRow("backslashed absolute url") << "http:\\\\evil.example\\x" << "";
    QTest::newRow("only slashes") << "/\\/" << "";
    // clang-format on
}

// The export URL a device names: a path stays below the device's base, an absolute URL only on its origin.
void TstEngineInternals::downloadUrl()
{
    QFETCH(QString, value);
    QTEST(SettingsExport::downloadUrl("http://127.0.0.1:8080/dev/7", value), "url");
}

void TstEngineInternals::destination_data()
{
    QTest::addColumn<QString>("parameter"); // relative to the temporary directory, made current
    QTest::addColumn<QString>("file");      // relative to it; "*" for the generated name

    // clang-format off
    QTest::newRow("new directory named with slash") << "new/" << "new/*";
    QTest::newRow("through a linked directory") << "link/x.ndb" << "sub/x.ndb";
    QTest::newRow("linked directory") << "link" << "sub/*";
    // clang-format on
}

// Where a backup goes: a directory gets a file named by the time, and a link leads to its real place.
void TstEngineInternals::destination()
{
    QFETCH(QString, parameter);
    QFETCH(QString, file);
    const QString sDir = QDir(pTemp->path()).canonicalPath();
    QVERIFY(QDir(sDir).mkpath("sub"));
    QVERIFY(QFile::link(sDir + "/sub", sDir + "/link"));
    const QString sPrevious = QDir::currentPath();
    QDir::setCurrent(sDir);
    const QString sResolved = SettingsExport::resolveDestination(parameter);
    QDir::setCurrent(sPrevious);

    const QDateTime dtNow(QDate(2024, 3, 5), QTime(8, 9, 10, 11));
    QCOMPARE(SettingsExport::filePath(sResolved, dtNow),
             sDir + '/' + QString(file).replace("*", "20240305080910011_db.ndb"));
}

QTEST_GUILESS_MAIN(TstEngineInternals)
#include "tst_engineinternals.moc"
