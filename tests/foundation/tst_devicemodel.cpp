// The device table, the device record of this family, request records and request intake, seen from inside.
#include "apikestrolplugin.h"
#include "apirequestcommand.h"
#include "kestroldevice.h"

#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>
#include <thread>

namespace {

class TestPlugin : public ApiKestrolPlugin
{
public:
    using ApiKestrolPlugin::hDevices;
    using ApiKestrolPlugin::lNewRequests;
    using ApiKestrolPlugin::prApiCertificateLogin;

    KestrolDevice *device(const QString &sId) const { return qobject_cast<KestrolDevice *>(getDevice(sId)); }
    QStringList queuedIds()
    {
        QMutexLocker locker(&mutexRequests);
        QStringList lIds;
        for (const auto &pRequest : qAsConst(lNewRequests))
            lIds << pRequest->sUuid;
        return lIds;
    }
};

class TestDevice : public KestrolDevice
{
public:
    using KestrolDevice::iApiCertificateValidity;
    using KestrolDevice::KestrolDevice;
};

} // namespace

class TstDeviceModel : public QObject
{
    Q_OBJECT

private slots:
    void deviceKind_data();
    void deviceKind();
    void createKeepsFirstDevice();
    void changeDevice();
    void deleteDeviceDestroysIt();
    void devicesDestroyedWithPlugin();
    void countdown_data();
    void countdown();
    void certificateValidity();
    void deviceQueue();
    void requestRecord();
    void intakeQueuesInCallOrder();
    void intakeFromAnotherThread();
    void certificateLoginGoesFirst();
    void nothingLeavesBeforeInit();
};

void TstDeviceModel::deviceKind_data()
{
    QTest::addColumn<QVariantList>("params");
    QTest::addColumn<QString>("kind");
    QTest::newRow("empty list") << QVariantList{} << "unknown";
    QTest::newRow("camera") << QVariantList{"camera"} << "camera";
    QTest::newRow("camera mixed case inside") << QVariantList{"IP-CaMeRa 4K"} << "camera";
    QTest::newRow("recorder") << QVariantList{"Network RECORDER"} << "recorder";
    QTest::newRow("both words") << QVariantList{"recorder with camera"} << "camera";
    QTest::newRow("neither") << QVariantList{"sensor"} << "unknown";
    QTest::newRow("kind word in second parameter") << QVariantList{"sensor", "camera"} << "unknown";
    QTest::newRow("no text form") << QVariantList{QVariant::fromValue(QSize(1, 2))} << "unknown";
    QTest::newRow("number") << QVariantList{42} << "unknown";
}

void TstDeviceModel::deviceKind()
{
    QFETCH(QVariantList, params);
    QFETCH(QString, kind);
    TestPlugin plugin;
    QCOMPARE(plugin.createDevice("d", "http://h", "u", "p", params), 0);
    QVERIFY(plugin.device("d"));
    QCOMPARE(plugin.device("d")->getDeviceType(), kind);
}

void TstDeviceModel::createKeepsFirstDevice()
{
    TestPlugin plugin;
    QCOMPARE(plugin.createDevice("d", "http://first", "u1", "p1", {"camera"}), 0);
    QCOMPARE(plugin.createDevice("d", "http://second", "u2", "p2", {"recorder"}), 1);
    KestrolDevice *pDevice = plugin.device("d");
    QCOMPARE(pDevice->getUrl(), QStringLiteral("http://first"));
    QCOMPARE(pDevice->getUser(), QStringLiteral("u1"));
    QCOMPARE(pDevice->getPassword(), QStringLiteral("p1"));
    QCOMPARE(pDevice->getDeviceType(), QStringLiteral("camera"));
    QCOMPARE(plugin.hDevices.size(), 1);
    QVERIFY(!plugin.getDevice("D"));
    QCOMPARE(plugin.hDevices.size(), 1);
}

void TstDeviceModel::changeDevice()
{
    TestPlugin plugin;
    plugin.createDevice("d", "http://first", "u1", "p1", {"camera"});
    QCOMPARE(plugin.changeDevice("d", "http://second", "u2", "p2", {"recorder"}), 0);
    KestrolDevice *pDevice = plugin.device("d");
    QCOMPARE(pDevice->getId(), QStringLiteral("d"));
    QCOMPARE(pDevice->getUrl(), QStringLiteral("http://second"));
    QCOMPARE(pDevice->getUser(), QStringLiteral("u2"));
    QCOMPARE(pDevice->getPassword(), QStringLiteral("p2"));
    QCOMPARE(pDevice->getDeviceType(), QStringLiteral("camera"));
    QCOMPARE(plugin.changeDevice("D", "http://x", "u", "p", {}), 1);

    // Only devices of this family can be changed.
    plugin.addDevice("plain", new Device("plain", "http://p", "u", "p"));
    QCOMPARE(plugin.changeDevice("plain", "http://x", "u", "p", {}), 1);
}

void TstDeviceModel::deleteDeviceDestroysIt()
{
    TestPlugin plugin;
    plugin.createDevice("d", "http://first", "u1", "p1", {});
    QPointer<KestrolDevice> pDevice = plugin.device("d");
    QCOMPARE(plugin.deleteDevice("d"), 0);
    QVERIFY(pDevice.isNull());
    QVERIFY(!plugin.getDevice("d"));
    QCOMPARE(plugin.deleteDevice("d"), 1);
    QCOMPARE(plugin.createDevice("d", "http://second", "u2", "p2", {}), 0);
    QCOMPARE(plugin.device("d")->getUrl(), QStringLiteral("http://second"));
}

void TstDeviceModel::devicesDestroyedWithPlugin()
{
    QPointer<KestrolDevice> pDevice;
    {
        TestPlugin plugin;
        plugin.createDevice("d", "http://h", "u", "p", {});
        pDevice = plugin.device("d");
        QVERIFY(pDevice);
    }
    QVERIFY(pDevice.isNull());
}

void TstDeviceModel::countdown_data()
{
    QTest::addColumn<uint>("start");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<uint>("remaining");
    QTest::newRow("150 once") << 150u << 1 << 50u;
    QTest::newRow("150 twice") << 150u << 2 << 0u;
    QTest::newRow("below a tick") << 50u << 1 << 0u;
    QTest::newRow("exactly a tick") << 100u << 1 << 0u;
    QTest::newRow("zero stays") << 0u << 3 << 0u;
    QTest::newRow("two minutes less one tick") << 120000u << 1199 << 100u;
    QTest::newRow("two minutes") << 120000u << 1200 << 0u;
}

void TstDeviceModel::countdown()
{
    QFETCH(uint, start);
    QFETCH(int, ticks);
    QFETCH(uint, remaining);
    TestDevice device("d", "http://h", "u", "p", "camera");
    device.iApiCertificateValidity = start;
    for (int i = 0; i < ticks; ++i)
        device.prTimer();
    QCOMPARE(uint(device.iApiCertificateValidity), remaining);
    QCOMPARE(device.isApiCertificateValid(), remaining != 0);
}

void TstDeviceModel::certificateValidity()
{
    KestrolDevice device("d", "http://h", "u", "p", "camera");
    QVERIFY(!device.isApiCertificateValid());
    device.setApiCertificateValid();
    QVERIFY(device.isApiCertificateValid());
    for (int i = 0; i < 1200; ++i)
        device.prTimer();
    QVERIFY(!device.isApiCertificateValid());
    device.setSessionId("s-1");
    QCOMPARE(device.getSessionId(), QStringLiteral("s-1"));
    QVERIFY(qobject_cast<Device *>(&device));
    QVERIFY(device.qt_metacast("KestrolDevice"));
    QVERIFY(device.qt_metacast("Device"));
}

void TstDeviceModel::deviceQueue()
{
    KestrolDevice device("d", "http://h", "u", "p", "camera");
    QVERIFY(device.getQueuedRequests().isEmpty());
    QStringList lIds{"a", "b", "c"};
    for (const QString &sId : lIds)
        device.addPendingApiRequest(
            QSharedPointer<ApiRequestCommand>::create(sId, "d", "API_CMD_SNAPSHOT", QVariantList{1}));
    const auto lQueued = device.getQueuedRequests();
    QCOMPARE(lQueued.size(), 3);
    for (int i = 0; i < lIds.size(); ++i)
        QCOMPARE(lQueued.at(i)->sUuid, lIds.at(i));
    QVERIFY(device.getQueuedRequests().isEmpty());
}

void TstDeviceModel::requestRecord()
{
    ApiRequestCommand request("{id}", "dev", "API_CMD_SETTINGS_SAVE", {"x", 2});
    QVERIFY(!request.isHttpsChanged());
    request.setCommand("API_CMD_INTERNAL_SETTINGS_DOWNLOAD");
    request.replaceParams({});
    QCOMPARE(request.sUuid, QStringLiteral("{id}"));
    QCOMPARE(request.sDeviceId, QStringLiteral("dev"));
    QCOMPARE(request.sCommand, QStringLiteral("API_CMD_INTERNAL_SETTINGS_DOWNLOAD"));
    QVERIFY(request.lParam.isEmpty());
    request.setHttpsChange(true);
    QVERIFY(request.isHttpsChanged());
}

void TstDeviceModel::intakeQueuesInCallOrder()
{
    TestPlugin plugin;
    const QRegularExpression uuidForm("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$");
    QStringList lIds;
    for (int i = 0; i < 50; ++i) {
        const QString sUuid = plugin.requestApiCommand("dev", "API_CMD_SNAPSHOT", {i});
        QVERIFY2(uuidForm.match(sUuid).hasMatch(), qPrintable(sUuid));
        lIds << sUuid;
    }
    QCOMPARE(QSet<QString>(lIds.begin(), lIds.end()).size(), lIds.size());
    // On the plugin's own thread the request is queued before requestApiCommand returns.
    QCOMPARE(plugin.queuedIds(), lIds);
    const auto pFirst = plugin.lNewRequests.first();
    QCOMPARE(pFirst->sDeviceId, QStringLiteral("dev"));
    QCOMPARE(pFirst->sCommand, QStringLiteral("API_CMD_SNAPSHOT"));
    QCOMPARE(pFirst->lParam, QVariantList{0});
    QCOMPARE(pFirst->parent(), &plugin);
}

void TstDeviceModel::intakeFromAnotherThread()
{
    TestPlugin plugin;
    QStringList lIds;
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i)
            lIds << plugin.requestApiCommand("dev", "API_CMD_GET_CONFIG", {});
    });
    worker.join();
    QCOMPARE(lIds.size(), 20);
    // The requests cross into this thread through its event loop, in call order.
    QTRY_COMPARE_WITH_TIMEOUT(plugin.queuedIds(), lIds, 5000);
    QCOMPARE(plugin.lNewRequests.first()->thread(), plugin.thread());
}

void TstDeviceModel::certificateLoginGoesFirst()
{
    TestPlugin plugin;
    plugin.createDevice("dev", "http://h", "u", "p", {});
    const QString sFirst = plugin.requestApiCommand("dev", "API_CMD_GET_CONFIG", {});
    plugin.prApiCertificateLogin(plugin.device("dev"));
    QCOMPARE(plugin.lNewRequests.size(), 2);
    QCOMPARE(plugin.lNewRequests.at(0)->sCommand, QStringLiteral("API_CMD_INTERNAL_LOGIN"));
    QCOMPARE(plugin.lNewRequests.at(0)->sDeviceId, QStringLiteral("dev"));
    QVERIFY(plugin.lNewRequests.at(0)->lParam.isEmpty());
    QCOMPARE(plugin.lNewRequests.at(1)->sUuid, sFirst);
}

void TstDeviceModel::nothingLeavesBeforeInit()
{
    TestPlugin plugin;
    plugin.createDevice("dev", "http://127.0.0.1:1", "u", "p", {});
    const QString sUuid = plugin.requestApiCommand("dev", "API_CMD_GET_CONFIG", {});
    QTest::qWait(300);
    QCOMPARE(plugin.queuedIds(), QStringList{sUuid});
}

QTEST_GUILESS_MAIN(TstDeviceModel)
#include "tst_devicemodel.moc"
