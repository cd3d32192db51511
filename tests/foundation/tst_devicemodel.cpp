// The device table, certificate pins, the certificate countdown and request intake, seen from inside.
#include "apikestrolplugin.h"
#include "apirequestcommand.h"
#include "kestroldevice.h"

#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QtTest>
#include <thread>

namespace {

const QString sOldPin = QString(64, 'f');

class TestPlugin : public ApiKestrolPlugin
{
public:
    using ApiKestrolPlugin::hDevices;
    using ApiKestrolPlugin::lNewRequests;
    using ApiKestrolPlugin::prApiCertificateLogin;

    KestrolDevice *device(const QString &sId) const { return qobject_cast<KestrolDevice *>(getDevice(sId)); }
    void tick() { QMetaObject::invokeMethod(this, "onTimer", Qt::DirectConnection); }
    QStringList queuedIds()
    {
        QMutexLocker locker(&mutexRequests);
        QStringList lIds;
        for (const auto &pRequest : qAsConst(lNewRequests))
            lIds << pRequest->sUuid;
        return lIds;
    }
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
    void certificatePin_data();
    void certificatePin();
    void countdownAgesWithTicks();
    void intakeQueuesInCallOrder();
    void intakeFromAnotherThread();
    void certificateLoginGoesFirst();
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

void TstDeviceModel::certificatePin_data()
{
    QTest::addColumn<QVariantList>("params");
    QTest::addColumn<int>("created");   // createDevice's result for a new device
    QTest::addColumn<QString>("pin");   // the new device's pin; for a refused one the old device's
    QTest::addColumn<int>("changed");   // changeDevice's result for a device pinned with sOldPin
    QTest::addColumn<QString>("after"); // that device's pin afterwards
    QTest::addColumn<QString>("line");  // logged for each refusal; empty: none

    const QString sHex = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    const QString sPairs =
        "01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF";
    const QString sRefused = "Invalid certificate pin: %1 (d)";
    QTest::newRow("no parameters") << QVariantList{} << 0 << "" << 0 << sOldPin << "";
    QTest::newRow("kind only") << QVariantList{"camera"} << 0 << "" << 0 << sOldPin << "";
    QTest::newRow("empty pin clears") << QVariantList{"camera", ""} << 0 << "" << 0 << ""
                                      << "";
    QTest::newRow("null pin clears") << QVariantList{"camera", QVariant()} << 0 << "" << 0 << ""
                                     << "";
    QTest::newRow("hex") << QVariantList{"camera", sHex} << 0 << sHex << 0 << sHex << "";
    QTest::newRow("upper-case pairs") << QVariantList{"camera", sPairs} << 0 << sHex << 0 << sHex << "";
    QTest::newRow("sha256 prefix") << QVariantList{"", "sha256:" + sHex} << 0 << sHex << 0 << sHex << "";
    QTest::newRow("SHA256 prefix, pairs, blanks")
        << QVariantList{"", " SHA256:" + sPairs + "\n"} << 0 << sHex << 0 << sHex << "";
    QTest::newRow("bytes") << QVariantList{"", sHex.toLatin1()} << 0 << sHex << 0 << sHex << "";
    QTest::newRow("kind word") << QVariantList{"sensor", "camera"} << 1 << sOldPin << 1 << sOldPin
                               << sRefused.arg("camera");
    QTest::newRow("one digit short") << QVariantList{"", sHex.chopped(1)} << 1 << sOldPin << 1 << sOldPin
                                     << sRefused.arg(sHex.chopped(1));
    QTest::newRow("one digit long") << QVariantList{"", sHex + "0"} << 1 << sOldPin << 1 << sOldPin
                                    << sRefused.arg(sHex + "0");
    QTest::newRow("not hex") << QVariantList{"", QString(sHex).replace('a', 'g')} << 1 << sOldPin << 1
                             << sOldPin << sRefused.arg(QString(sHex).replace('a', 'g'));
    QTest::newRow("pairs misplaced") << QVariantList{"", "0:1" + sPairs.mid(3)} << 1 << sOldPin << 1
                                     << sOldPin << sRefused.arg("0:1" + sPairs.mid(3));
    QTest::newRow("other digest") << QVariantList{"", "sha1:" + sHex} << 1 << sOldPin << 1 << sOldPin
                                  << sRefused.arg("sha1:" + sHex);
    QTest::newRow("control characters")
        << QVariantList{"", "x\r\ny"} << 1 << sOldPin << 1 << sOldPin << sRefused.arg("x\\r\\ny");
    QTest::newRow("number") << QVariantList{"", 42} << 1 << sOldPin << 1 << sOldPin << sRefused.arg("42");
    QTest::newRow("list") << QVariantList{"", QStringList{sHex}} << 1 << sOldPin << 1 << sOldPin
                          << sRefused.arg(sHex);
}

// A pin the plugin cannot read refuses the whole call, so no device runs unpinned by mistake.
void TstDeviceModel::certificatePin()
{
    QFETCH(QVariantList, params);
    QFETCH(QString, line);
    TestPlugin plugin;
    QSignalSpy logs(&plugin, &ApiKestrolPlugin::signal_log);
    QCOMPARE(plugin.createDevice("d", "http://old", "u", "p", {"camera", sOldPin}), 0);

    QTEST(plugin.createDevice("e", "http://new", "u", "p", params), "created");
    QTEST((plugin.device("e") ? plugin.device("e") : plugin.device("d"))->getCertificatePin(), "pin");
    const int iChanged = plugin.changeDevice("d", "http://changed", "u", "p", params);
    QTEST(iChanged, "changed");
    QTEST(plugin.device("d")->getCertificatePin(), "after");
    QCOMPARE(plugin.device("d")->getUrl(), QString(iChanged == 0 ? "http://changed" : "http://old"));

    QStringList lLines;
    for (const QList<QVariant> &log : qAsConst(logs))
        lLines << log.at(1).toString().replace("(e)", "(d)");
    const QStringList lExpected = line.isEmpty() ? QStringList() : QStringList{line, line};
    QCOMPARE(lLines, lExpected);
}

// Only a countdown that was started is aged; the others stay 0 without costing a tick anything.
void TstDeviceModel::countdownAgesWithTicks()
{
    TestPlugin plugin;
    plugin.createDevice("counting", "http://h", "u", "p", {});
    plugin.createDevice("idle", "http://h", "u", "p", {});
    plugin.createDevice("deleted", "http://h", "u", "p", {});
    plugin.device("counting")->setApiCertificateValid();
    plugin.device("deleted")->setApiCertificateValid();
    plugin.deleteDevice("deleted");

    for (int i = 0; i < 1199; ++i)
        plugin.tick();
    QVERIFY(plugin.device("counting")->isApiCertificateValid());
    QVERIFY(!plugin.device("idle")->isApiCertificateValid());
    plugin.tick();
    QVERIFY(!plugin.device("counting")->isApiCertificateValid());
    plugin.device("counting")->setApiCertificateValid();
    plugin.tick();
    QVERIFY(plugin.device("counting")->isApiCertificateValid());
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

QTEST_GUILESS_MAIN(TstDeviceModel)
#include "tst_devicemodel.moc"
