// Loads the built module exactly as a host does: through QPluginLoader and the interface header alone.
#include "deviceapiinterface.h"

#include <QJsonObject>
#include <QPluginLoader>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

class TstPluginLoad : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void metadata();
    void oneInstanceUntilDestroyed();
    void casts_data();
    void casts();
    void identity();
    void relays();
    void deviceRegistry();

private:
    QPluginLoader *pLoader = nullptr;
    DeviceApiInterface *api();
};

void TstPluginLoad::init()
{
    pLoader = new QPluginLoader(QStringLiteral(KESTROL_PLUGIN_PATH), this);
    QVERIFY2(pLoader->load(), qPrintable(pLoader->errorString()));
}

void TstPluginLoad::cleanup()
{
    delete pLoader->instance();
    delete pLoader;
    pLoader = nullptr;
}

DeviceApiInterface *TstPluginLoad::api()
{
    return qobject_cast<DeviceApiInterface *>(pLoader->instance());
}

void TstPluginLoad::metadata()
{
    const QJsonObject meta = pLoader->metaData();
    QCOMPARE(meta.value("IID").toString(), QStringLiteral("qtdeviceapiinterfaceid"));
    QCOMPARE(meta.value("className").toString(), QStringLiteral("ApiKestrolPlugin"));
    QVERIFY(!meta.contains("MetaData"));
}

void TstPluginLoad::oneInstanceUntilDestroyed()
{
    QPointer<QObject> first = pLoader->instance();
    QVERIFY(first);
    QCOMPARE(pLoader->instance(), first.data());
    QVERIFY(!first->parent());

    api()->createDevice("cam", "http://127.0.0.1:1", "u", "p", {});
    delete first;
    QVERIFY(first.isNull());

    QObject *second = pLoader->instance();
    QVERIFY(second);
    // A fresh object: the device table of the first one is gone with it.
    QCOMPARE(api()->createDevice("cam", "http://127.0.0.1:1", "u", "p", {}), 0);
}

void TstPluginLoad::casts_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("isInterface");
    QTest::newRow("interface id") << QByteArray("qtdeviceapiinterfaceid") << true;
    QTest::newRow("interface class") << QByteArray("DeviceApiInterface") << true;
    QTest::newRow("plugin class") << QByteArray("ApiKestrolPlugin") << false;
    QTest::newRow("base class") << QByteArray("ApiBasePlugin") << false;
}

void TstPluginLoad::casts()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, isInterface);
    QObject *pInstance = pLoader->instance();
    void *pCast = pInstance->qt_metacast(name.constData());
    QVERIFY(pCast);
    if (isInterface)
        QCOMPARE(pCast, static_cast<void *>(api()));
    QVERIFY(!pInstance->qt_metacast("NoSuchClass"));
}

void TstPluginLoad::identity()
{
    DeviceApiInterface *pApi = api();
    QVERIFY(pApi);
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

void TstPluginLoad::relays()
{
    QObject *pInstance = pLoader->instance();
    QSignalSpy logSpy(pInstance, SIGNAL(signal_log(int, QString)));
    QSignalSpy progressSpy(pInstance, SIGNAL(signal_progress(QString, int)));
    QVERIFY(QMetaObject::invokeMethod(pInstance, "onLog", Q_ARG(QString, "a line")));
    QVERIFY(
        QMetaObject::invokeMethod(pInstance, "onNetworkProgress", Q_ARG(QString, "{id}"), Q_ARG(int, 42)));
    QCOMPARE(logSpy.count(), 1);
    QCOMPARE(logSpy.at(0).at(0).toInt(), 0);
    QCOMPARE(logSpy.at(0).at(1).toString(), QStringLiteral("a line"));
    QCOMPARE(progressSpy.count(), 1);
    QCOMPARE(progressSpy.at(0).at(0).toString(), QStringLiteral("{id}"));
    QCOMPARE(progressSpy.at(0).at(1).toInt(), 42);
}

void TstPluginLoad::deviceRegistry()
{
    DeviceApiInterface *pApi = api();
    QCOMPARE(pApi->createDevice("cam", "http://127.0.0.1:1", "u", "p", {"camera"}), 0);
    QCOMPARE(pApi->createDevice("cam", "http://127.0.0.1:2", "v", "q", {}), 1);
    QCOMPARE(pApi->createDevice("CAM", "http://127.0.0.1:2", "v", "q", {}), 0);
    QCOMPARE(pApi->changeDevice("cam", "http://127.0.0.1:3", "w", "r", {}), 0);
    QCOMPARE(pApi->changeDevice("nobody", "http://127.0.0.1:3", "w", "r", {}), 1);
    QCOMPARE(pApi->deleteDevice("cam"), 0);
    QCOMPARE(pApi->deleteDevice("cam"), 1);
    QCOMPARE(pApi->changeDevice("cam", "http://127.0.0.1:3", "w", "r", {}), 1);
    QCOMPARE(pApi->createDevice("cam", "http://127.0.0.1:4", "x", "s", {}), 0);
}

QTEST_GUILESS_MAIN(TstPluginLoad)
#include "tst_pluginload.moc"
