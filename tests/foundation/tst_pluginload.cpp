// Loads the built module exactly as a host does: through QPluginLoader and the interface header alone.
#include "pluginfixture.h"

#include <QJsonObject>
#include <QtTest>

class TstPluginLoad : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void metadataAndIdentity();
    void oneInstanceUntilDestroyed();
    void deviceRegistry();

private:
    LoadedPlugin plugin;
};

void TstPluginLoad::init()
{
    QVERIFY2(plugin.load(), qPrintable(plugin.loader.errorString()));
}

void TstPluginLoad::cleanup()
{
    VERIFY_HOST_INVARIANTS(*plugin.pHost);
    plugin.unload();
}

void TstPluginLoad::metadataAndIdentity()
{
    const QJsonObject meta = plugin.loader.metaData();
    QCOMPARE(meta.value("IID").toString(), QStringLiteral("qtdeviceapiinterfaceid"));
    QCOMPARE(meta.value("className").toString(), QStringLiteral("ApiKestrolPlugin"));

    DeviceApiInterface *pApi = plugin.pApi;
    QCOMPARE(pApi->getPluginName(), QStringLiteral("ApiPlugin_AI"));
    QCOMPARE(pApi->getVersion(), QStringLiteral("1.0"));
    QCOMPARE(pApi->getVesoDeviceType(), QStringLiteral("9"));
    QCOMPARE(pApi->getApiVersion(), QStringLiteral("1.0"));
    QCOMPARE(pApi->getDeviceState("anything"), 0);
    const QStringList lExpected{"API_CMD_AICOUNTER_GET", "API_CMD_AICOUNTER_LIST", "API_CMD_FIRMWARE_UPDATE",
                                "API_CMD_GET_CONFIG",    "API_CMD_LOGIN_CHECK",    "API_CMD_RESET_SOFT",
                                "API_CMD_RESTART",       "API_CMD_SETTINGS_LOAD",  "API_CMD_SETTINGS_SAVE",
                                "API_CMD_SNAPSHOT"};
    QCOMPARE(pApi->getCommandList(), lExpected);
}

// The loader gives one parentless object until the host destroys it; the next is fresh: no devices, no queue.
void TstPluginLoad::oneInstanceUntilDestroyed()
{
    QCOMPARE(plugin.loader.instance(), plugin.pInstance.data());
    QVERIFY(!plugin.pInstance->parent());
    QCOMPARE(plugin.pHost->createDevice("cam", "http://127.0.0.1:1", "u", "p"), 0);
    const QString sQueued = plugin.pHost->request("cam", "API_CMD_RESTART");

    QVERIFY(plugin.load());
    QCOMPARE(plugin.pHost->createDevice("cam", "http://127.0.0.1:1", "u", "p"), 0);
    plugin.pApi->initApiPlugin(nullptr);
    const QString sUuid = plugin.pHost->request("nosuch", "API_CMD_RESTART");
    QCOMPARE(plugin.pHost->wait(sUuid).iError, 103);
    QCOMPARE(plugin.pHost->lLogs, QStringList{QStringLiteral("Unknown device: nosuch (%1)").arg(sUuid)});
    QCOMPARE(plugin.pHost->count(sQueued), 0);
}

// Ids are the host's keys, compared exactly; a request still queued for a deleted device is answered 103.
void TstPluginLoad::deviceRegistry()
{
    HostRecorder &host = *plugin.pHost;
    DeviceApiInterface *pApi = plugin.pApi;
    QCOMPARE(host.createDevice("cam", "http://127.0.0.1:1", "u", "p", {"camera"}), 0);
    QCOMPARE(host.createDevice("cam", "http://127.0.0.1:2", "v", "q"), 1);
    QCOMPARE(host.createDevice("CAM", "http://127.0.0.1:2", "v", "q"), 0);
    QCOMPARE(host.changeDevice("cam", "http://127.0.0.1:3", "w", "r"), 0);
    QCOMPARE(host.changeDevice("nobody", "http://127.0.0.1:3", "w", "r"), 1);
    const QString sUuid = host.request("cam", "API_CMD_RESTART");
    QVERIFY(QRegularExpression("^\\{[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}\\}$").match(sUuid).hasMatch());
    QCOMPARE(pApi->deleteDevice("cam"), 0);
    QCOMPARE(pApi->deleteDevice("cam"), 1);
    QCOMPARE(host.changeDevice("cam", "http://127.0.0.1:3", "w", "r"), 1);
    pApi->initApiPlugin(nullptr);
    QCOMPARE(host.wait(sUuid).iError, 103);
    QCOMPARE(host.lLogs, QStringList{QStringLiteral("Unknown device: cam (%1)").arg(sUuid)});
    QCOMPARE(host.createDevice("cam", "http://127.0.0.1:4", "x", "s"), 0);
}

QTEST_GUILESS_MAIN(TstPluginLoad)
#include "tst_pluginload.moc"
