// The plugin's initialisation seen by a host: the module loaded through QPluginLoader, requests queued
// before initApiPlugin, and the access manager the plugin then uses: its own, or the host's.
#include "devicesim.h"
#include "pluginfixture.h"

#include <QAuthenticator>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QtTest>

class TestInitApiPlugin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void initialisation_data();
    void initialisation();
    void deletedFromItsOwnAnswer();

private:
    devicesim::Simulator sim;
    LoadedPlugin plugin;
};

void TestInitApiPlugin::initTestCase()
{
    QVERIFY(sim.start());
    devicesim::DeviceConfig config;
    config.auth = devicesim::AuthMode::Digest;
    sim.addDevice("host", config);
    devicesim::DeviceConfig other;
    other.swver = "9.9.9";
    sim.addDevice("other", other);
}

void TestInitApiPlugin::init()
{
    QVERIFY2(plugin.load(), qPrintable(plugin.loader.errorString()));
}

void TestInitApiPlugin::cleanup()
{
    VERIFY_HOST_INVARIANTS(*plugin.pHost);
    plugin.unload();
}

void TestInitApiPlugin::initialisation_data()
{
    QTest::addColumn<bool>(
        "hostFirst"); // initialised with the host's manager, then with none; or the reverse
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("firmware");

    // Only the host's manager follows a redirect within the device's origin (Qt 5's and Qt 6's defaults
    // don't).
    QTest::newRow("own manager, a host's given later") << false << 103 << "";
    QTest::newRow("host's manager, none given later") << true << 0 << "9.9.9";
}

// What was requested before initApiPlugin goes out once it has run, through the manager of the first call.
// A manager given by the host stays the host's: it outlives the plugin, and its own challenged replies are
// answered by the host alone.
void TestInitApiPlugin::initialisation()
{
    QFETCH(bool, hostFirst);
    HostRecorder &host = *plugin.pHost;
    QSignalSpy states(plugin.pApi, &DeviceApiInterface::signal_state);
    QNetworkAccessManager hostManager;
    hostManager.setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
    int iHostChallenges = 0;
    connect(&hostManager, &QNetworkAccessManager::authenticationRequired, this,
            [&](QNetworkReply *, QAuthenticator *pAuthenticator) {
                ++iHostChallenges;
                pAuthenticator->setUser("admin");
                pAuthenticator->setPassword("secret");
            });
    devicesim::Fault redirect;
    redirect.redirectTo = sim.baseUrl("other") + "/api/system/info/";
    sim.addDevice("cam");
    sim.setFault("cam", "/api/system/info/", redirect);
    sim.clearRequests();
    QCOMPARE(host.createDevice("cam", sim.baseUrl("cam"), "admin", "secret", {"camera"}), 0);
    const QString sUuid = host.request("cam", "API_CMD_GET_CONFIG");
    QTest::qWait(250); // longer than a tick
    QVERIFY(sim.requests().isEmpty());
    QCOMPARE(host.count(sUuid), 0);

    plugin.pApi->initApiPlugin(hostFirst ? &hostManager : nullptr);
    plugin.pApi->initApiPlugin(hostFirst ? nullptr : &hostManager);
    QScopedPointer<QNetworkReply> pHostReply(
        hostManager.get(QNetworkRequest(QUrl(sim.baseUrl("host") + "/api/system/info/"))));
    const HostAnswer answer = host.wait(sUuid);
    QTEST(answer.iError, "code");
    QTEST(answer.lResult.value(0).toMap().value("API_FW").toString(), "firmware");
    QTRY_VERIFY(pHostReply->isFinished());
    QCOMPARE(pHostReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QVERIFY(iHostChallenges > 0);
    QVERIFY(host.lLogs.filter("Send login").isEmpty());
    QCOMPARE(states.count(), 0);

    // The host's manager outlives the plugin (one the plugin adopted would be deleted twice here).
    plugin.unload();
}

// A host may deleteLater() the plugin from inside one of its signals; a request still in flight then ends
// without an answer.
void TestInitApiPlugin::deletedFromItsOwnAnswer()
{
    HostRecorder &host = *plugin.pHost;
    plugin.pApi->initApiPlugin(nullptr);
    devicesim::Fault hang;
    hang.hang = true;
    sim.addDevice("silent");
    sim.setFault("silent", "/api/system/info/", hang);
    QCOMPARE(host.createDevice("silent", sim.baseUrl("silent"), "admin", "secret"), 0);
    const QString sInFlight = host.request("silent", "API_CMD_GET_CONFIG");
    QTRY_VERIFY(!sim.requests("silent").isEmpty());

    QObject *pInstance = plugin.pInstance;
    host.onAnswerHook = [pInstance](const HostAnswer &) { pInstance->deleteLater(); };
    const QString sUuid = host.request("nosuch", "API_CMD_RESTART");
    QTRY_VERIFY(plugin.pInstance.isNull());
    sim.clearFaults("silent");
    QCOMPARE(host.answer(sUuid).iError, 103);
    QCOMPARE(host.count(sInFlight), 0);
}

QTEST_GUILESS_MAIN(TestInitApiPlugin)
#include "tst_initapiplugin.moc"
