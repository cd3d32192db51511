// What the simulator promises beyond what the plugin suites see through the plugin: its fault switches and
// request records over its control paths, TLS and Digest as a standard client speaks them, and a busy port.
#include "devicesim.h"

#include <QAuthenticator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace devicesim;

namespace {

constexpr int kWaitMs = 20000;
const QByteArray baInfoBody = "\"swver\":\"3.2.1\"";

// A host's own access manager: accepts the self-signed certificate, answers challenges. Replies live as long
// as it does.
class Client
{
public:
    explicit Client(const QString &sUser = {}, const QString &sPassword = {})
    {
        nam.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        QObject::connect(&nam, &QNetworkAccessManager::sslErrors, [this](QNetworkReply *pReply) {
            bSawSelfSigned = true;
            pReply->ignoreSslErrors();
        });
        QObject::connect(&nam, &QNetworkAccessManager::authenticationRequired,
                         [=](QNetworkReply *, QAuthenticator *pAuthenticator) {
                             ++iChallenges;
                             pAuthenticator->setUser(sUser);
                             pAuthenticator->setPassword(sPassword);
                         });
    }

    QNetworkReply *start(const QByteArray &baMethod, const QString &sUrl, const QByteArray &baBody = {},
                         const QByteArray &baContentType = "application/json")
    {
        QNetworkRequest request{QUrl(sUrl)};
        request.setHeader(QNetworkRequest::ContentTypeHeader, baContentType);
        return nam.sendCustomRequest(request, baMethod, baBody);
    }

    static bool finish(QNetworkReply *pReply)
    {
        return pReply->isFinished() || QSignalSpy(pReply, &QNetworkReply::finished).wait(kWaitMs);
    }

    QNetworkReply *send(const QByteArray &baMethod, const QString &sUrl, const QByteArray &baBody = {},
                        const QByteArray &baContentType = "application/json")
    {
        QNetworkReply *pReply = start(baMethod, sUrl, baBody, baContentType);
        finish(pReply);
        return pReply;
    }

    // -1 when the reply did not finish in time.
    static int status(QNetworkReply *pReply)
    {
        return pReply->isFinished() ? pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt()
                                    : -1;
    }

    QNetworkAccessManager nam;
    int iChallenges = 0;
    bool bSawSelfSigned = false;
};

QJsonArray records(Client &client, const Simulator &simulator, const QString &sQuery)
{
    const QString sUrl =
        QStringLiteral("http://127.0.0.1:%1/_sim/requests%2").arg(simulator.port()).arg(sQuery);
    return QJsonDocument::fromJson(client.send("GET", sUrl)->readAll()).array();
}

} // namespace

class TstDeviceSim : public QObject
{
    Q_OBJECT

private slots:
    void faultSwitches_data();
    void faultSwitches();
    void recording();
    void standardClient_data();
    void standardClient();
    void busyPortRefused();
};

void TstDeviceSim::faultSwitches_data()
{
    QTest::addColumn<QByteArray>("baFault"); // as PUT to /_sim/faults
    QTest::addColumn<bool>("bHeld");         // no answer yet when the request has arrived
    QTest::addColumn<int>("iStatus");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::addColumn<QByteArray>("baBodyHas");
    QTest::addColumn<int>("iBodySize");       // -1: not checked
    QTest::addColumn<QByteArray>("baHeader"); // "Name: value"; "Name:" when it must be absent

    auto row = [](const char *pcName, const char *pcFault, bool bHeld, int iStatus,
                  QNetworkReply::NetworkError error, const QByteArray &baBodyHas, int iBodySize,
                  const char *pcHeader) {
        QTest::newRow(pcName) << QByteArray(pcFault) << bHeld << iStatus << error << baBodyHas << iBodySize
                              << QByteArray(pcHeader);
    };
    using E = QNetworkReply::NetworkError;
    // clang-format off
    row("none", "{}", false, 200, E::NoError, baInfoBody, -1, "Content-Type: application/json");
    row("status", R"({"status":500})", false, 500, E::InternalServerError, "", -1, "");
    row("delay", R"({"delayMs":700})", true, 200, E::NoError, baInfoBody, -1, "");
    row("hang, released by clearing", R"({"hang":true})", true, 200, E::NoError, baInfoBody, -1, "");
    row("drop mid body", R"({"dropMidBody":true})", false, 200, E::RemoteHostClosedError, "", -1, "");
    row("chunked", R"({"chunked":true})", false, 200, E::NoError, baInfoBody, -1, "Content-Length:");
    row("length mismatch", R"({"lengthMismatch":10})", false, 200, E::RemoteHostClosedError, "", -1, "");
    row("bad chunk", R"({"badChunk":true})", false, 200, E::NoError, "", 52, "Transfer-Encoding: chunked");
    row("empty body", R"({"emptyBody":true})", false, 200, E::NoError, "", 0, "");
    row("not JSON", R"({"notJson":true})", false, 200, E::NoError, "<h1>Device busy</h1>", -1, "Content-Type: text/html");
    row("large body", R"({"largeBodyBytes":3000001})", false, 200, E::NoError, "", 3000001, "");
    row("given body", R"({"body":"{\"swver\":42}"})", false, 200, E::NoError, R"({"swver":42})", 12, "");
    row("redirect", R"({"redirectTo":"/elsewhere/"})", false, 302, E::NoError, "", -1, "Location: /elsewhere/");
    row("unauthorized", R"({"unauthorizedTimes":1})", false, 401, E::AuthenticationRequiredError, "", -1, "");
    // clang-format on
}

// Set and cleared over the control path, as a benchmark or a person with curl does.
void TstDeviceSim::faultSwitches()
{
    QFETCH(QByteArray, baFault);
    QFETCH(bool, bHeld);
    QFETCH(int, iStatus);
    QFETCH(QNetworkReply::NetworkError, error);
    QFETCH(QByteArray, baBodyHas);
    QFETCH(int, iBodySize);
    QFETCH(QByteArray, baHeader);

    Simulator simulator;
    QVERIFY(simulator.start());
    const QString sInfo = simulator.addDevice("1") + "/api/system/info/";
    const QString sOtherDevice = simulator.addDevice("2") + "/api/system/info/";
    const QString sFaults = QStringLiteral("http://127.0.0.1:%1/_sim/faults").arg(simulator.port());
    Client client;
    QCOMPARE(Client::status(client.send("PUT", sFaults + "?device=1&path=/api/system/info/", baFault)), 200);
    QVERIFY(client.send("GET", sOtherDevice)->readAll().contains(baInfoBody));

    QNetworkReply *pReply = client.start("GET", sInfo);
    QTRY_COMPARE_WITH_TIMEOUT(simulator.requests("1").size(), 1, kWaitMs);
    // A held request is released by clearing (a hang) or answers when its time is up (a delay); any other is
    // answered before the faults are cleared, so that clearing cannot overtake it.
    QCOMPARE(pReply->isFinished() || (!bHeld && Client::finish(pReply)), !bHeld);
    QCOMPARE(Client::status(client.send("DELETE", sFaults + "?device=1")), 200);
    QVERIFY(Client::finish(pReply));
    QCOMPARE(pReply->error(), error);
    QCOMPARE(Client::status(pReply), iStatus);
    const QByteArray baBody = pReply->readAll();
    QVERIFY2(baBody.contains(baBodyHas), baBody.left(200).constData());
    if (iBodySize >= 0)
        QCOMPARE(baBody.size(), iBodySize);
    const int iColon = baHeader.indexOf(':');
    QCOMPARE(pReply->rawHeader(baHeader.left(iColon)), baHeader.mid(iColon + 1).trimmed());
    QVERIFY(client.send("GET", sInfo)->readAll().contains(baInfoBody));
}

// Every device request is kept, as received, and served as JSON over the control path until cleared.
void TstDeviceSim::recording()
{
    Simulator simulator;
    QVERIFY(simulator.start());
    const QString sBase = simulator.addDevice("cam 1");
    simulator.addDevice("2");
    Client client;
    client.send("GET", sBase + "/api/system/info/?x=%2F1");
    const QByteArray baSettings("settings\0\xff", 10);
    client.send("POST", simulator.baseUrl("2") + "/api/system/management/db/import/",
                "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"s.ndb\"\r\n\r\n" +
                    baSettings + "\r\n--B--\r\n",
                "multipart/form-data; boundary=B");

    const QJsonArray one = records(client, simulator, "?device=cam%201");
    QCOMPARE(one.size(), 1);
    QCOMPARE(one[0].toObject().value("target").toString(), QString("/dev/cam%201/api/system/info/?x=%2F1"));
    QCOMPARE(one[0].toObject().value("apiPath").toString(), QString("/api/system/info/"));
    QCOMPARE(one[0].toObject().value("method").toString(), QString("GET"));
    QCOMPARE(one[0].toObject().value("inFlight").toInt(), 1);
    const QJsonArray two = records(client, simulator, "?device=2");
    QCOMPARE(two.size(), 1);
    const QJsonObject part = two[0].toObject().value("parts").toArray().first().toObject();
    QCOMPARE(part.value("name").toString(), QString("file"));
    QCOMPARE(part.value("filename").toString(), QString("s.ndb"));
    QCOMPARE(part.value("size").toInt(), baSettings.size());
    QCOMPARE(part.value("sha256").toString().toLatin1(),
             QCryptographicHash::hash(baSettings, QCryptographicHash::Sha256).toHex());
    QCOMPARE(records(client, simulator, QString()).size(), 2);

    QCOMPARE(Client::status(client.send(
                 "DELETE", QStringLiteral("http://127.0.0.1:%1/_sim/requests").arg(simulator.port()))),
             200);
    QVERIFY(records(client, simulator, QString()).isEmpty());
}

void TstDeviceSim::standardClient_data()
{
    QTest::addColumn<bool>("bTls");
    QTest::addColumn<QString>("sPassword");
    QTest::addColumn<int>("iStatus");
    QTest::newRow("https, right password") << true << "s3cr3t" << 200;
    QTest::newRow("http, wrong password") << false << "guess" << 401;
}

// TLS and Digest as Qt's own client speaks them; a second request reuses the nonce with a higher count.
void TstDeviceSim::standardClient()
{
    QFETCH(bool, bTls);
    QFETCH(QString, sPassword);
    QFETCH(int, iStatus);

    Simulator simulator(Simulator::Options{bTls});
    QVERIFY(simulator.start());
    DeviceConfig config;
    config.auth = AuthMode::Digest;
    config.user = "operator";
    config.password = "s3cr3t";
    const QString sBase = simulator.addDevice("1", config);
    QCOMPARE(sBase.startsWith("https:"), bTls);
    Client client("operator", sPassword);
    QNetworkReply *pFirst = client.send("GET", sBase + "/api/system/info/");
    QCOMPARE(Client::status(pFirst), iStatus);
    QCOMPARE(client.bSawSelfSigned, bTls);
    if (iStatus != 200) {
        QVERIFY(pFirst->rawHeader("WWW-Authenticate").startsWith("Digest "));
        return;
    }
    QVERIFY(pFirst->readAll().contains(baInfoBody));
    QCOMPARE(Client::status(client.send("GET", sBase + "/api/system/management/fwupdate/progress/")), 200);
    QCOMPARE(client.iChallenges, 1);
    QVERIFY(simulator.requests().last().headers.value("authorization").startsWith("Digest "));
}

// The tool and the class both refuse a port in use, and a stopped simulator frees its port.
void TstDeviceSim::busyPortRefused()
{
    auto pFirst = std::make_unique<Simulator>();
    QVERIFY(pFirst->start());
    Simulator::Options samePort;
    samePort.port = pFirst->port();

    QProcess tool;
    tool.start(QStringLiteral(KESTROL_DEVICESIM_PATH), {"--port", QString::number(samePort.port)});
    QVERIFY(tool.waitForFinished(kWaitMs));
    QCOMPARE(tool.exitCode(), 1);
    QVERIFY(tool.readAllStandardError().contains("Address already in use"));

    Simulator second(samePort);
    QVERIFY(!second.start());
    QCOMPARE(second.errorString(), QString("Address already in use"));
    pFirst.reset();
    QVERIFY(second.start());
    Client client;
    QCOMPARE(Client::status(client.send("GET", second.addDevice("1") + "/api/system/info/")), 200);
}

QTEST_GUILESS_MAIN(TstDeviceSim)
#include "tst_devicesim.moc"
