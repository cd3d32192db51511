// A request is authorised only with its own device's credentials, whatever shares its scheme, host and
// port, and no password reaches a log line. End to end: the module loaded as a host loads it, against the
// device simulator.
#include "deviceapiinterface.h"
#include "devicesim.h"

#include <QNetworkAccessManager>
#include <QPluginLoader>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using devicesim::AuthMode;

Q_DECLARE_METATYPE(devicesim::AuthMode)

namespace {

const QString kRight = QStringLiteral("right-pw-1");
const QString kWrong = QStringLiteral("wrong-pw-2");

} // namespace

class TestCredentials : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void isolation_data();
    void isolation();
    void changeDevice_data();
    void changeDevice();
    void passwordsStayOutOfTheLog();

private:
    void startSimulator(bool bTls, AuthMode auth, const QStringList &lDevices);
    QString request(const QString &sDevice, const QString &sCommand);
    int answerOf(const QString &sUuid);

    std::unique_ptr<devicesim::Simulator> pSim;
    std::unique_ptr<QNetworkAccessManager> pManager;
    QPluginLoader *pLoader = nullptr;
    QObject *pPlugin = nullptr;
    DeviceApiInterface *pApi = nullptr;
    std::unique_ptr<QSignalSpy> pAnswers;
    std::unique_ptr<QSignalSpy> pLogs;
};

void TestCredentials::init()
{
    pLoader = new QPluginLoader(QStringLiteral(KESTROL_PLUGIN_PATH), this);
    QVERIFY2(pLoader->load(), qPrintable(pLoader->errorString()));
    pPlugin = pLoader->instance();
    pApi = qobject_cast<DeviceApiInterface *>(pPlugin);
    QVERIFY(pApi);
    pManager = std::make_unique<QNetworkAccessManager>();
    pApi->initApiPlugin(pManager.get());
    pAnswers = std::make_unique<QSignalSpy>(pPlugin, SIGNAL(signal_apiResponse(QString, int, QVariantList)));
    pLogs = std::make_unique<QSignalSpy>(pPlugin, SIGNAL(signal_log(int, QString)));
}

void TestCredentials::cleanup()
{
    // Every answer came once.
    QSet<QString> seen;
    for (const QList<QVariant> &answer : qAsConst(*pAnswers))
        QVERIFY2(!seen.contains(answer.at(0).toString()), qPrintable(answer.at(0).toString()));
    pAnswers.reset();
    pLogs.reset();
    delete pPlugin;
    pPlugin = nullptr;
    delete pLoader;
    pLoader = nullptr;
    pManager.reset();
    pSim.reset();
}

void TestCredentials::startSimulator(bool bTls, AuthMode auth, const QStringList &lDevices)
{
    pSim = std::make_unique<devicesim::Simulator>(devicesim::Simulator::Options{bTls, 0, 16});
    QVERIFY(pSim->start());
    for (const QString &sDevice : lDevices) {
        devicesim::DeviceConfig config;
        config.password = kRight;
        config.auth = auth;
        pSim->addDevice(sDevice, config);
    }
}

QString TestCredentials::request(const QString &sDevice, const QString &sCommand)
{
    return pApi->requestApiCommand(sDevice, sCommand, {});
}

int TestCredentials::answerOf(const QString &sUuid)
{
    const auto answered = [&]() -> const QList<QVariant> * {
        for (const QList<QVariant> &answer : qAsConst(*pAnswers)) {
            if (answer.at(0).toString() == sUuid)
                return &answer;
        }
        return nullptr;
    };
    if (!QTest::qWaitFor([&] { return answered() != nullptr; }, 20000))
        return -1;
    return answered()->at(1).toInt();
}

void TestCredentials::isolation_data()
{
    QTest::addColumn<bool>("tls");
    QTest::addColumn<AuthMode>("auth");
    QTest::addColumn<bool>("oneDevice"); // both registrations name one device: one realm, one path
    QTest::addColumn<bool>("wrongFirst");
    QTest::addColumn<bool>("concurrent");

    QTest::newRow("http basic, two devices, right first, in turn")
        << false << AuthMode::Basic << false << false << false;
    QTest::newRow("http basic, one device twice, wrong first, in turn")
        << false << AuthMode::Basic << true << true << false;
    QTest::newRow("http digest, two devices, right first, in turn")
        << false << AuthMode::Digest << false << false << false;
    QTest::newRow("http digest, one device twice, right first, at once")
        << false << AuthMode::Digest << true << false << true;
    QTest::newRow("http digest, one device twice, wrong first, at once")
        << false << AuthMode::Digest << true << true << true;
    QTest::newRow("https digest, two devices, right first, at once")
        << true << AuthMode::Digest << false << false << true;
    QTest::newRow("https digest, one device twice, right first, in turn")
        << true << AuthMode::Digest << true << false << false;
    QTest::newRow("https basic, one device twice, wrong first, at once")
        << true << AuthMode::Basic << true << true << true;
}

// Two registrations on one simulator port, one with the right password and one with a wrong one: the wrong
// one is refused (101) and reboots nothing, the right one is answered 0 and reboots its device once.
void TestCredentials::isolation()
{
    QFETCH(bool, tls);
    QFETCH(AuthMode, auth);
    QFETCH(bool, oneDevice);
    QFETCH(bool, wrongFirst);
    QFETCH(bool, concurrent);

    startSimulator(tls, auth, {"1", "2"});
    const QString sGoodUrl = pSim->baseUrl("1");
    const QString sBadUrl = pSim->baseUrl(oneDevice ? "1" : "2");
    QCOMPARE(pApi->createDevice("good", sGoodUrl, "admin", kRight, {"camera"}), 0);
    QCOMPARE(pApi->createDevice("bad", sBadUrl, "admin", kWrong, {"camera"}), 0);

    QStringList lOrder{"good", "bad"};
    if (wrongFirst)
        std::reverse(lOrder.begin(), lOrder.end());
    QHash<QString, QStringList> hUuids;
    for (int iRound = 0; iRound < 2; ++iRound) {
        for (const QString &sDevice : lOrder) {
            for (const char *pcCommand : {"API_CMD_LOGIN_CHECK", "API_CMD_RESTART"}) {
                const QString sUuid = request(sDevice, pcCommand);
                hUuids[sDevice] << sUuid;
                if (!concurrent)
                    QVERIFY(answerOf(sUuid) >= 0);
            }
        }
    }
    for (const QString &sUuid : hUuids.value("good"))
        QCOMPARE(answerOf(sUuid), 0);
    for (const QString &sUuid : hUuids.value("bad"))
        QCOMPARE(answerOf(sUuid), 101);
    QCOMPARE(pSim->rebootCount("1"), 2);
    if (!oneDevice)
        QCOMPARE(pSim->rebootCount("2"), 0);
}

void TestCredentials::changeDevice_data()
{
    QTest::addColumn<bool>("tls");
    QTest::addColumn<AuthMode>("auth");
    QTest::newRow("http basic") << false << AuthMode::Basic;
    QTest::newRow("http digest") << false << AuthMode::Digest;
    QTest::newRow("https digest") << true << AuthMode::Digest;
}

// A device that logged in, changed to a wrong password, is refused on its next request; back to the right
// one, it is answered again.
void TestCredentials::changeDevice()
{
    QFETCH(bool, tls);
    QFETCH(AuthMode, auth);

    startSimulator(tls, auth, {"1"});
    const QString sUrl = pSim->baseUrl("1");
    QCOMPARE(pApi->createDevice("cam", sUrl, "admin", kRight, {"camera"}), 0);
    const QList<QPair<QString, int>> lSteps{{kRight, 0}, {kWrong, 101}, {kRight, 0}, {kWrong, 101}};
    int iReboots = 0;
    for (const auto &step : lSteps) {
        QCOMPARE(pApi->changeDevice("cam", sUrl, "admin", step.first, {"camera"}), 0);
        QCOMPARE(answerOf(request("cam", "API_CMD_LOGIN_CHECK")), step.second);
        QCOMPARE(answerOf(request("cam", "API_CMD_RESTART")), step.second);
        iReboots += step.second == 0;
        QCOMPARE(pSim->rebootCount("1"), iReboots);
    }
}

// A password in the device URL's user info and the one in the device record appear in no log line: request
// lines, error lines after a credential change with an HTTP error status, redirect lines.
void TestCredentials::passwordsStayOutOfTheLog()
{
    startSimulator(false, AuthMode::Digest, {"1"});
    const QString sUrlSecret = QStringLiteral("url-secret-7");
    QString sUrl = pSim->baseUrl("1");
    sUrl.replace("http://", QStringLiteral("http://admin:%1@").arg(sUrlSecret));
    QCOMPARE(pApi->createDevice("cam", sUrl, "admin", kRight, {"camera"}), 0);
    QCOMPARE(answerOf(request("cam", "API_CMD_GET_CONFIG")), 0);

    QCOMPARE(pApi->changeDevice("cam", sUrl, "admin", kWrong, {"camera"}), 0);
    QCOMPARE(answerOf(request("cam", "API_CMD_GET_CONFIG")), 101);
    QCOMPARE(pApi->changeDevice("cam", sUrl, "admin", kRight, {"camera"}), 0);
    devicesim::Fault failure;
    failure.status = 500;
    pSim->setFault("1", "/api/system/info/", failure);
    QCOMPARE(answerOf(request("cam", "API_CMD_GET_CONFIG")), 103);
    devicesim::Fault redirect;
    redirect.redirectTo = QStringLiteral("http://other:%1@127.0.0.1:1/elsewhere").arg(sUrlSecret);
    pSim->setFault("1", "/api/system/info/", redirect);
    QCOMPARE(answerOf(request("cam", "API_CMD_GET_CONFIG")), 103);

    QStringList lLines;
    for (const QList<QVariant> &log : qAsConst(*pLogs))
        lLines << log.at(1).toString();
    QVERIFY(!lLines.filter("Error: ").isEmpty());
    QVERIFY(!lLines.filter("Redirect not followed: ").isEmpty());
    for (const QString &sLine : qAsConst(lLines)) {
        QVERIFY2(!sLine.contains(sUrlSecret) && !sLine.contains(kRight) && !sLine.contains(kWrong),
                 qPrintable(sLine));
    }
}

QTEST_GUILESS_MAIN(TestCredentials)
#include "tst_credentials.moc"
