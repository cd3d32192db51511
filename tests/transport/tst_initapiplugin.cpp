// The plugin's initialisation seen by a host: the module loaded through QPluginLoader, requests queued
// before initApiPlugin, the transport, its manager and the timer it creates, and the relaying of the
// transport's signals.
#include "deviceapiinterface.h"
#include "devicesim.h"

#include <QNetworkAccessManager>
#include <QPluginLoader>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

class TestInitApiPlugin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void ownManagerAndQueuedRequests();
    void hostManagerAndRelays();

private:
    QList<QObject *> transports() const;

    devicesim::Simulator sim;
    QPluginLoader *pLoader = nullptr;
    QObject *pPlugin = nullptr;
    DeviceApiInterface *pApi = nullptr;
};

void TestInitApiPlugin::initTestCase()
{
    QVERIFY(sim.start());
    sim.addDevice("cam");
}

void TestInitApiPlugin::init()
{
    pLoader = new QPluginLoader(QStringLiteral(KESTROL_PLUGIN_PATH), this);
    QVERIFY2(pLoader->load(), qPrintable(pLoader->errorString()));
    pPlugin = pLoader->instance();
    pApi = qobject_cast<DeviceApiInterface *>(pPlugin);
    QVERIFY(pApi);
    sim.clearRequests();
}

void TestInitApiPlugin::cleanup()
{
    delete pPlugin;
    delete pLoader;
    pLoader = nullptr;
}

QList<QObject *> TestInitApiPlugin::transports() const
{
    QList<QObject *> lTransports;
    for (QObject *pChild : pPlugin->children())
        if (qstrcmp(pChild->metaObject()->className(), "NetworkHandlerKestrol") == 0)
            lTransports << pChild;
    return lTransports;
}

// Without a manager from the host the plugin makes its own, owned by it; a second call changes nothing;
// what was requested before is sent only once the plugin is initialised.
void TestInitApiPlugin::ownManagerAndQueuedRequests()
{
    QSignalSpy responses(pPlugin, SIGNAL(signal_apiResponse(QString, int, QVariantList)));
    QSignalSpy logs(pPlugin, SIGNAL(signal_log(int, QString)));
    QCOMPARE(pApi->createDevice("cam", sim.baseUrl("cam"), "admin", "secret", {"camera"}), 0);
    const QString sUuid = pApi->requestApiCommand("cam", "API_CMD_GET_CONFIG", {});
    QTest::qWait(300);
    QVERIFY(sim.requests().isEmpty());
    QVERIFY(transports().isEmpty());

    pApi->initApiPlugin(nullptr);
    pApi->initApiPlugin(nullptr);
    QCOMPARE(transports().size(), 1);
    const QList<QNetworkAccessManager *> lManagers =
        pPlugin->findChildren<QNetworkAccessManager *>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(lManagers.size(), 1);
    const QList<QTimer *> lTimers = pPlugin->findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(lTimers.size(), 1);
    QCOMPARE(lTimers.first()->interval(), 100);
    QVERIFY(!lTimers.first()->isSingleShot());
    QVERIFY(lTimers.first()->isActive());

    QTRY_COMPARE_WITH_TIMEOUT(responses.count(), 1, 10000);
    QCOMPARE(responses.first().at(0).toString(), sUuid);
    QCOMPARE(responses.first().at(1).toInt(), 0);
    QCOMPARE(sim.requests("cam").size(), 1);
    bool bTransportLine = false;
    for (const auto &log : qAsConst(logs)) {
        QCOMPARE(log.at(0).toInt(), 0);
        bTransportLine |= log.at(1).toString() == QStringLiteral("Request finished ok: %1%2 (%3)")
                                                      .arg(sim.baseUrl("cam"), "/api/system/info/", sUuid);
    }
    QVERIFY(bTransportLine);

    QPointer<QNetworkAccessManager> pOwnManager = lManagers.first();
    delete pPlugin;
    pPlugin = nullptr;
    QVERIFY(pOwnManager.isNull());
}

// A manager given by the host is used, not adopted; the transport's log and progress reach the host.
void TestInitApiPlugin::hostManagerAndRelays()
{
    QNetworkAccessManager hostManager;
    pApi->initApiPlugin(&hostManager);
    QVERIFY(pPlugin->findChildren<QNetworkAccessManager *>().isEmpty());
    QCOMPARE(transports().size(), 1);
    QObject *pTransport = transports().first();

    QSignalSpy logs(pPlugin, SIGNAL(signal_log(int, QString)));
    QSignalSpy progress(pPlugin, SIGNAL(signal_progress(QString, int)));
    QVERIFY(QMetaObject::invokeMethod(pTransport, "signal_log", Q_ARG(QString, "a line")));
    QVERIFY(QMetaObject::invokeMethod(pTransport, "signal_progress", Q_ARG(QString, "{id}"), Q_ARG(int, 42)));
    QCOMPARE(logs.count(), 1);
    QCOMPARE(logs.first().at(0).toInt(), 0);
    QCOMPARE(logs.first().at(1).toString(), QStringLiteral("a line"));
    QCOMPARE(progress.count(), 1);
    QCOMPARE(progress.first().at(0).toString(), QStringLiteral("{id}"));
    QCOMPARE(progress.first().at(1).toInt(), 42);

    // The host's manager outlives the plugin (a plugin that adopted it would delete it twice here).
    delete pPlugin;
    pPlugin = nullptr;
}

QTEST_GUILESS_MAIN(TestInitApiPlugin)
#include "tst_initapiplugin.moc"
