// The device rules a host relies on, seen from inside: a device's kind, what create and change keep, which
// certificate pins are taken, the certificate countdown, and requests submitted from another thread.
#include "apikestrolplugin.h"
#include "apirequestcommand.h"
#include "kestroldevice.h"

#include <QSignalSpy>
#include <QtTest>
#include <thread>

namespace {

const QString sOldPin = QString(64, 'f');

class TestPlugin : public ApiKestrolPlugin
{
public:
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
    void createAndChange();
    void certificatePin_data();
    void certificatePin();
    void countdownAgesWithTicks();
    void intakeFromAnotherThread();
};

void TstDeviceModel::deviceKind_data()
{
    QTest::addColumn<QVariantList>("params");
    QTest::addColumn<QString>("kind");
    // clang-format off
    QTest::newRow("nothing") << QVariantList{} << "unknown";
    QTest::newRow("camera, any case, inside") << QVariantList{"IP-CaMeRa 4K"} << "camera";
    QTest::newRow("recorder") << QVariantList{"Network RECORDER"} << "recorder";
    QTest::newRow("both words") << QVariantList{"recorder with camera"} << "camera";
    QTest::newRow("neither") << QVariantList{"sensor"} << "unknown";
    QTest::newRow("no text form") << QVariantList{QVariant::fromValue(QSize(1, 2))} << "unknown";
    // clang-format on
}

// Of the first parameter; a change keeps it.
void TstDeviceModel::deviceKind()
{
    QFETCH(QVariantList, params);
    TestPlugin plugin;
    QCOMPARE(plugin.createDevice("d", "http://h", "u", "p", params), 0);
    QCOMPARE(plugin.changeDevice("d", "http://h", "u", "p", {"camera"}), 0);
    QTEST(plugin.device("d")->getDeviceType(), "kind");
}

// A second create of an identifier keeps the first device whole; a change replaces URL and credentials.
void TstDeviceModel::createAndChange()
{
    TestPlugin plugin;
    QCOMPARE(plugin.createDevice("d", "http://first", "u1", "p1", {"camera"}), 0);
    QCOMPARE(plugin.createDevice("d", "http://second", "u2", "p2", {"recorder"}), 1);
    const auto fields = [&] {
        const KestrolDevice *pDevice = plugin.device("d");
        return QStringList{pDevice->getUrl(), pDevice->getUser(), pDevice->getPassword()};
    };
    QCOMPARE(fields(), (QStringList{"http://first", "u1", "p1"}));
    QCOMPARE(plugin.changeDevice("d", "http://second", "u2", "p2", {"recorder"}), 0);
    QCOMPARE(fields(), (QStringList{"http://second", "u2", "p2"}));
}

void TstDeviceModel::certificatePin_data()
{
    QTest::addColumn<QVariantList>("params");
    QTest::addColumn<int>("result");    // of createDevice for a new device and changeDevice for a pinned one
    QTest::addColumn<QString>("pin");   // the new device's pin, and the changed device's afterwards
    QTest::addColumn<QString>("shown"); // in the line logged for each refusal; empty: none

    const QString sHex = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    const QString sPairs =
        "01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF";
    // clang-format off
    QTest::newRow("kind only keeps the pin") << QVariantList{"camera"} << 0 << "<old>" << "";
    QTest::newRow("empty pin clears") << QVariantList{"camera", ""} << 0 << "" << "";
    QTest::newRow("hex") << QVariantList{"camera", sHex} << 0 << sHex << "";
    QTest::newRow("SHA256 prefix, upper-case pairs, blanks") << QVariantList{"", " SHA256:" + sPairs + "\n"} << 0 << sHex << "";
    QTest::newRow("bytes") << QVariantList{"", sHex.toLatin1()} << 0 << sHex << "";
    QTest::newRow("one digit short") << QVariantList{"", sHex.chopped(1)} << 1 << "<old>" << sHex.chopped(1);
    QTest::newRow("not hex") << QVariantList{"", QString(sHex).replace('a', 'g')} << 1 << "<old>" << QString(sHex).replace('a', 'g');
    QTest::newRow("pairs misplaced") << QVariantList{"", "0:1" + sPairs.mid(3)} << 1 << "<old>" << "0:1" + sPairs.mid(3);
    QTest::newRow("other digest") << QVariantList{"", "sha1:" + sHex} << 1 << "<old>" << "sha1:" + sHex;
    QTest::newRow("control characters") << QVariantList{"", "x\r\ny"} << 1 << "<old>" << "x\\r\\ny";
    QTest::newRow("number") << QVariantList{"", 42} << 1 << "<old>" << "42";
    // clang-format on
}

// A pin the plugin cannot read refuses the whole call, so no device runs unpinned by mistake; a change
// without a pin keeps the device's.
void TstDeviceModel::certificatePin()
{
    QFETCH(QVariantList, params);
    QFETCH(int, result);
    QFETCH(QString, pin);
    QFETCH(QString, shown);
    TestPlugin plugin;
    QSignalSpy logs(&plugin, &ApiKestrolPlugin::signal_log);
    QCOMPARE(plugin.createDevice("d", "http://old", "u", "p", {"camera", sOldPin}), 0);

    QCOMPARE(plugin.createDevice("e", "http://new", "u", "p", params), result);
    QCOMPARE(plugin.device("e") != nullptr, result == 0);
    QCOMPARE(plugin.changeDevice("d", "http://changed", "u", "p", params), result);
    QCOMPARE(plugin.device("d")->getCertificatePin(), QString(pin).replace("<old>", sOldPin));
    QCOMPARE(plugin.device("d")->getUrl(), QString(result ? "http://old" : "http://changed"));

    QStringList lLines;
    for (const QList<QVariant> &log : qAsConst(logs))
        lLines << log.at(1).toString();
    const QString sLine = "Invalid certificate pin: " + shown + " (%1)";
    QCOMPARE(lLines, shown.isEmpty() ? QStringList() : (QStringList{sLine.arg("e"), sLine.arg("d")}));
}

// Only a countdown that was started is aged, by one per tick, and a new start renews it.
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

// A host thread's requests cross into the plugin's thread through its event loop, in call order, each with
// an identifier of its own.
void TstDeviceModel::intakeFromAnotherThread()
{
    TestPlugin plugin;
    QStringList lIds;
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i)
            lIds << plugin.requestApiCommand("dev", "API_CMD_GET_CONFIG", {});
    });
    worker.join();
    QCOMPARE(QSet<QString>(lIds.cbegin(), lIds.cend()).size(), 20);
    QTRY_COMPARE_WITH_TIMEOUT(plugin.queuedIds(), lIds, 5000);
}

QTEST_GUILESS_MAIN(TstDeviceModel)
#include "tst_devicemodel.moc"
