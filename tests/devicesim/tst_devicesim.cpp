// The device simulator driven by a plain QNetworkAccessManager over HTTP and HTTPS.
#include "devicesim.h"

#include <QAuthenticator>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QHttpMultiPart>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QtTest>

using namespace devicesim;

Q_DECLARE_METATYPE(devicesim::Fault)
Q_DECLARE_METATYPE(devicesim::AuthMode)
Q_DECLARE_METATYPE(devicesim::ExportUrlForm)

namespace {

constexpr int kWaitMs = 20000;

struct Exchange
{
    int iStatus = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray baBody;
    qint64 iBodySize = 0;
    bool bFinished = false;
    QNetworkReply *pReply = nullptr; // valid until the client is destroyed
};

// A client as the plugin's host would have one: accepts the self-signed certificate, answers challenges.
class Client
{
public:
    explicit Client(const QString &sUser = QString(), const QString &sPassword = QString(),
                    int iMaxSupplies = 4)
    {
        // The simulator's answers as it sends them: Qt 6 would follow its redirects by default.
        nam.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        QObject::connect(&nam, &QNetworkAccessManager::sslErrors,
                         [](QNetworkReply *pReply, const QList<QSslError> &) { pReply->ignoreSslErrors(); });
        QObject::connect(&nam, &QNetworkAccessManager::authenticationRequired,
                         [=](QNetworkReply *, QAuthenticator *pAuthenticator) {
                             if (iSupplies++ < iMaxSupplies) {
                                 pAuthenticator->setUser(sUser);
                                 pAuthenticator->setPassword(sPassword);
                             }
                         });
    }

    Exchange send(const QByteArray &baMethod, const QString &sUrl, const QByteArray &baBody = QByteArray(),
                  QHttpMultiPart *pMultiPart = nullptr, bool bKeepBody = true)
    {
        QNetworkRequest request{QUrl(sUrl)};
        QNetworkReply *pReply = pMultiPart          ? nam.post(request, pMultiPart)
                                : baMethod == "GET" ? nam.get(request)
                                                    : nam.sendCustomRequest(request, baMethod, baBody);
        if (pMultiPart)
            pMultiPart->setParent(pReply);
        return wait(pReply, bKeepBody);
    }

    static Exchange wait(QNetworkReply *pReply, bool bKeepBody = true, int iTimeoutMs = kWaitMs)
    {
        Exchange exchange;
        exchange.pReply = pReply;
        QObject::connect(pReply, &QNetworkReply::readyRead, [&] {
            const QByteArray baChunk = pReply->readAll();
            exchange.iBodySize += baChunk.size();
            if (bKeepBody)
                exchange.baBody += baChunk;
        });
        QSignalSpy finished(pReply, &QNetworkReply::finished);
        exchange.bFinished = pReply->isFinished() || finished.wait(iTimeoutMs);
        QObject::disconnect(pReply, &QNetworkReply::readyRead, nullptr, nullptr);
        exchange.iStatus = pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        exchange.error = pReply->error();
        return exchange;
    }

    QNetworkAccessManager nam;
    int iSupplies = 0;
};

QHttpMultiPart *fileForm(const QByteArray &baField, const QString &sFileName, QIODevice *pDevice)
{
    auto *pForm = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentTypeHeader, "application/octet-stream");
    part.setHeader(
        QNetworkRequest::ContentDispositionHeader,
        QStringLiteral("form-data; name=\"%1\"; filename=\"%2\"").arg(QString(baField), sFileName));
    part.setBodyDevice(pDevice);
    pDevice->setParent(pForm);
    pForm->append(part);
    return pForm;
}

QHttpMultiPart *fileForm(const QByteArray &baField, const QString &sFileName, const QByteArray &baContent)
{
    auto *pBuffer = new QBuffer;
    pBuffer->setData(baContent);
    pBuffer->open(QIODevice::ReadOnly);
    return fileForm(baField, sFileName, pBuffer);
}

// Every key of the expected object has the same value in the actual one; anything else compares exactly.
bool jsonMatches(const QJsonValue &actual, const QJsonValue &expected)
{
    if (!expected.isObject() || !actual.isObject())
        return actual == expected;
    const QJsonObject actualObject = actual.toObject();
    const QJsonObject expectedObject = expected.toObject();
    for (auto it = expectedObject.begin(); it != expectedObject.end(); ++it) {
        if (actualObject.value(it.key()) != it.value())
            return false;
    }
    return true;
}

QJsonValue parseJson(const QByteArray &baJson)
{
    const QJsonDocument document = QJsonDocument::fromJson(baJson);
    return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
}

qint64 procStatusValue(const char *pKey)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &baLine : status.readAll().split('\n')) {
        if (baLine.startsWith(pKey))
            return baLine.mid(int(qstrlen(pKey))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

void addSchemeRows(const std::function<void(const char *, bool)> &addRows)
{
    addRows("http", false);
    addRows("https", true);
}

} // namespace

class TstDeviceSim : public QObject
{
    Q_OBJECT

private slots:
    void deviceApi_data();
    void deviceApi();
    void snapshots();
    void exportForms_data();
    void exportForms();
    void backupRestoreRoundTrip_data();
    void backupRestoreRoundTrip();
    void authentication_data();
    void authentication();
    void faults_data();
    void faults();
    void hangIsRecordedAndReleased();
    void malformedRequests_data();
    void malformedRequests();
    void controlPath();
    void largeUploadStreams_data();
    void largeUploadStreams();
    void stopFreesPortAndThreads();
};

void TstDeviceSim::deviceApi_data()
{
    QTest::addColumn<bool>("bTls");
    QTest::addColumn<QString>("sDevice");
    QTest::addColumn<QByteArray>("baMethod");
    QTest::addColumn<QString>("sPath");
    QTest::addColumn<int>("iStatus");
    QTest::addColumn<QByteArray>("baJson");

    const QString sDay = "&datetime=2024-03-05%2008:00:00,2024-03-05%2009:00:00";
    const QString sStats = "/api/bi/counter/statistics/?format=json&resolution=3600" + sDay;
    const QByteArray baDay = "\"datetime\":\"2024-03-05 08:00:00\"";
    addSchemeRows([&](const char *pScheme, bool bTls) {
        auto row = [&](const char *pName) { return &(QTest::addRow("%s/%s", pScheme, pName) << bTls); };
        *row("info") << "1" << QByteArray("GET") << "/api/system/info/" << 200
                     << QByteArray(R"({"swver":"3.2.1","mac":"00:1A:2B:3C:4D:5E"})");
        *row("reboot") << "1" << QByteArray("POST") << "/api/system/management/reboot/" << 200
                       << QByteArray(R"({"status":"ok"})");
        *row("factory default") << "1" << QByteArray("POST") << "/api/system/management/factory_default/"
                                << 200 << QByteArray(R"({"status":"ok"})");
        *row("progress before upload")
            << "1" << QByteArray("GET") << "/api/system/management/fwupdate/progress/" << 200
            << QByteArray(R"({"progress":0,"state":"idle"})");
        *row("one counter") << "1" << QByteArray("GET") << sStats + "&counter_name=in" << 200
                            << "[{\"in\":[12,7,0,31]," + baDay + "}]";
        *row("unknown counter") << "1" << QByteArray("GET") << sStats + "&counter_name=nope" << 200
                                << "[{" + baDay + "}]";
        *row("all counters") << "1" << QByteArray("GET") << sStats << 200
                             << "[{\"in\":[12,7,0,31],\"out\":[9,4,2,27]," + baDay + "}]";
        *row("counter with space") << "odd" << QByteArray("GET") << sStats + "&counter_name=people%20in"
                                   << 200 << "[{\"people in\":[1,2]," + baDay + "}]";
        *row("counter with reserved characters")
            << "odd" << QByteArray("GET") << sStats + "&counter_name=a%26b%3Dc%2B" << 200
            << "[{\"a&b=c+\":[3]," + baDay + "}]";
        *row("counter with non-ASCII letters")
            << "odd" << QByteArray("GET") << sStats + "&counter_name=Z%C3%A4hlung" << 200
            << "[{\"Zählung\":[4]," + baDay + "}]";
        *row("counters without format")
            << "1" << QByteArray("GET") << "/api/bi/counter/statistics/?resolution=3600" + sDay << 400
            << QByteArray();
        *row("counters without period")
            << "1" << QByteArray("GET") << "/api/bi/counter/statistics/?format=json&resolution=3600" << 400
            << QByteArray();
        *row("counters with bad resolution")
            << "1" << QByteArray("GET") << "/api/bi/counter/statistics/?format=json&resolution=x" + sDay
            << 400 << QByteArray();
        *row("snapshot without channel")
            << "1" << QByteArray("GET") << "/api/snapshot/jpeg/" << 400 << QByteArray();
        *row("snapshot with bad channel")
            << "1" << QByteArray("GET") << "/api/snapshot/jpeg/?ch=abc" << 400 << QByteArray();
        *row("double slash at the seam")
            << "1" << QByteArray("GET") << "//api/system/info/" << 200 << QByteArray(R"({"swver":"3.2.1"})");
        *row("unknown path") << "1" << QByteArray("GET") << "/api/nothing/" << 404 << QByteArray();
        *row("unknown device") << "ghost" << QByteArray("GET") << "/api/system/info/" << 404 << QByteArray();
        *row("wrong method") << "1" << QByteArray("GET") << "/api/system/management/reboot/" << 405
                             << QByteArray();
    });
}

void TstDeviceSim::deviceApi()
{
    QFETCH(bool, bTls);
    QFETCH(QString, sDevice);
    QFETCH(QByteArray, baMethod);
    QFETCH(QString, sPath);
    QFETCH(int, iStatus);
    QFETCH(QByteArray, baJson);

    Simulator simulator(Simulator::Options{bTls});
    QVERIFY(simulator.start());
    simulator.addDevice("1");
    DeviceConfig odd;
    odd.counters = {{"people in", {1, 2}}, {"a&b=c+", {3}}, {QString::fromUtf8("Zählung"), {4}}};
    simulator.addDevice("odd", odd);

    Client client;
    const Exchange exchange = client.send(baMethod, simulator.baseUrl(sDevice) + sPath);
    QVERIFY(exchange.bFinished);
    QCOMPARE(exchange.iStatus, iStatus);
    if (!baJson.isEmpty())
        QVERIFY2(jsonMatches(parseJson(exchange.baBody), parseJson(baJson)), exchange.baBody.constData());
    QCOMPARE(simulator.requests().size(), 1);
    QCOMPARE(simulator.requests().first().target, ("/dev/" + sDevice + sPath).toUtf8());
}

void TstDeviceSim::snapshots()
{
    Simulator simulator;
    QVERIFY(simulator.start());
    simulator.addDevice("1");
    Client client;
    const Exchange one = client.send("GET", simulator.baseUrl("1") + "/api/snapshot/jpeg/?ch=1");
    const Exchange two = client.send("GET", simulator.baseUrl("1") + "/api/snapshot/jpeg/?ch=2");
    QCOMPARE(one.iStatus, 200);
    QCOMPARE(one.pReply->header(QNetworkRequest::ContentTypeHeader).toString(), QString("image/jpeg"));
    QCOMPARE(one.baBody, simulator.snapshotJpeg(1));
    QCOMPARE(two.baBody, simulator.snapshotJpeg(2));
    QVERIFY(one.baBody != two.baBody);
    const QImage image = QImage::fromData(one.baBody, "JPEG");
    QCOMPARE(image.size(), QSize(320, 240));
}

void TstDeviceSim::exportForms_data()
{
    QTest::addColumn<bool>("bTls");
    QTest::addColumn<ExportUrlForm>("form");
    QTest::addColumn<QString>("sOverride");
    addSchemeRows([](const char *pScheme, bool bTls) {
        QTest::addRow("%s/plain path", pScheme) << bTls << ExportUrlForm::PlainPath << QString();
        QTest::addRow("%s/backslash path", pScheme) << bTls << ExportUrlForm::BackslashPath << QString();
        QTest::addRow("%s/absolute url", pScheme) << bTls << ExportUrlForm::AbsoluteUrl << QString();
    });
    QTest::addRow("override") << false << ExportUrlForm::PlainPath << "ftp://elsewhere/x.ndb";
}

void TstDeviceSim::exportForms()
{
    QFETCH(bool, bTls);
    QFETCH(ExportUrlForm, form);
    QFETCH(QString, sOverride);

    Simulator simulator(Simulator::Options{bTls});
    QVERIFY(simulator.start());
    DeviceConfig config;
    config.exportUrlForm = form;
    const QString sBase = simulator.addDevice("cam 7", config);
    QVERIFY(sBase.endsWith("/dev/cam%207"));
    simulator.setExportUrlOverride("cam 7", sOverride);

    Client client;
    const Exchange exported = client.send("POST", sBase + "/api/system/management/db/export/");
    QCOMPARE(exported.iStatus, 200);
    const QString sUrl = QJsonDocument::fromJson(exported.baBody).object().value("url").toString();
    if (!sOverride.isEmpty()) {
        QCOMPARE(sUrl, sOverride);
        return;
    }
    const QString sExpected[] = {"/files/export/settings.ndb", "\\files\\export\\settings.ndb",
                                 sBase + "/files/export/settings.ndb"};
    QCOMPARE(sUrl, sExpected[int(form)]);

    const QString sDownload =
        form == ExportUrlForm::AbsoluteUrl ? sUrl : sBase + QString(sUrl).replace('\\', '/');
    const Exchange downloaded = client.send("GET", sDownload);
    QCOMPARE(downloaded.iStatus, 200);
    QCOMPARE(downloaded.baBody, simulator.settings("cam 7"));
    QVERIFY(downloaded.baBody.contains('\0'));
}

void TstDeviceSim::backupRestoreRoundTrip_data()
{
    QTest::addColumn<bool>("bTls");
    addSchemeRows([](const char *pScheme, bool bTls) { QTest::addRow("%s", pScheme) << bTls; });
}

void TstDeviceSim::backupRestoreRoundTrip()
{
    QFETCH(bool, bTls);
    Simulator simulator(Simulator::Options{bTls});
    QVERIFY(simulator.start());
    const QString sBase = simulator.addDevice("1");
    const QByteArray baFactory = simulator.settings("1");
    const QByteArray baBackup = QByteArray("restored\r\n\0\x01\xff settings", 23).repeated(100);
    Client client;

    const Exchange wrongField = client.send("POST", sBase + "/api/system/management/db/import/", QByteArray(),
                                            fileForm("data", "backup.ndb", baBackup));
    QCOMPARE(wrongField.iStatus, 400);
    QCOMPARE(simulator.settings("1"), baFactory);

    const Exchange imported = client.send("POST", sBase + "/api/system/management/db/import/", QByteArray(),
                                          fileForm("file", "backup.ndb", baBackup));
    QCOMPARE(imported.iStatus, 200);
    QCOMPARE(simulator.settings("1"), baBackup);
    const RecordedRequest record = simulator.requests("1").last();
    QCOMPARE(record.parts.size(), 1);
    QCOMPARE(record.parts[0].name, QByteArray("file"));
    QCOMPARE(record.parts[0].filename, QByteArray("backup.ndb"));
    QCOMPARE(record.parts[0].contentType, QByteArray("application/octet-stream"));
    QCOMPARE(record.parts[0].size, qint64(baBackup.size()));
    QCOMPARE(record.parts[0].sha256Hex,
             QCryptographicHash::hash(baBackup, QCryptographicHash::Sha256).toHex());

    QCOMPARE(client.send("POST", sBase + "/api/system/management/db/export/").iStatus, 200);
    QCOMPARE(client.send("GET", sBase + "/files/export/settings.ndb").baBody, baBackup);

    QCOMPARE(client.send("POST", sBase + "/api/system/management/factory_default/").iStatus, 200);
    QCOMPARE(simulator.factoryResetCount("1"), 1);
    QCOMPARE(simulator.settings("1"), baFactory);
}

void TstDeviceSim::authentication_data()
{
    QTest::addColumn<bool>("bTls");
    QTest::addColumn<AuthMode>("mode");
    QTest::addColumn<QString>("sPassword");
    QTest::addColumn<int>("iForced401");
    QTest::addColumn<int>("iStatus");
    addSchemeRows([](const char *pScheme, bool bTls) {
        for (AuthMode mode : {AuthMode::Basic, AuthMode::Digest}) {
            const char *pMode = mode == AuthMode::Basic ? "basic" : "digest";
            QTest::addRow("%s/%s/right", pScheme, pMode) << bTls << mode << "s3cr3t" << 0 << 200;
            QTest::addRow("%s/%s/wrong", pScheme, pMode) << bTls << mode << "guess" << 0 << 401;
        }
        // The client gives up when the same credentials are refused twice, so three forced refusals win.
        QTest::addRow("%s/none/forced 401 once", pScheme) << bTls << AuthMode::None << "s3cr3t" << 1 << 200;
        QTest::addRow("%s/digest/forced 401 thrice", pScheme)
            << bTls << AuthMode::Digest << "s3cr3t" << 3 << 401;
    });
}

void TstDeviceSim::authentication()
{
    QFETCH(bool, bTls);
    QFETCH(AuthMode, mode);
    QFETCH(QString, sPassword);
    QFETCH(int, iForced401);
    QFETCH(int, iStatus);

    Simulator simulator(Simulator::Options{bTls});
    QVERIFY(simulator.start());
    DeviceConfig config;
    config.auth = mode;
    config.user = "operator";
    config.password = "s3cr3t";
    const QString sBase = simulator.addDevice("1", config);
    Fault fault;
    fault.unauthorizedTimes = iForced401;
    simulator.setFault("1", "/api/system/info/", fault);

    Client client("operator", sPassword);
    const Exchange first = client.send("GET", sBase + "/api/system/info/");
    QVERIFY(first.bFinished);
    QCOMPARE(first.iStatus, iStatus);
    const QByteArray baScheme = mode == AuthMode::Digest ? "Digest" : "Basic";
    if (iStatus == 401) {
        QCOMPARE(first.error, QNetworkReply::AuthenticationRequiredError);
        QVERIFY(first.pReply->rawHeader("WWW-Authenticate").startsWith(baScheme + ' '));
        return;
    }
    QCOMPARE(client.iSupplies, 1);
    if (mode == AuthMode::None)
        return;
    // The next request reuses the connection and, for Digest, the nonce with a higher count.
    QCOMPARE(client.send("GET", sBase + "/api/system/management/fwupdate/progress/").iStatus, 200);
    QCOMPARE(client.iSupplies, 1);
    QVERIFY(simulator.requests().last().headers.value("authorization").startsWith(baScheme + ' '));
}

void TstDeviceSim::faults_data()
{
    QTest::addColumn<bool>("bTls");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("iStatus");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::addColumn<QByteArray>("baBody"); // "*": the device's normal answer
    QTest::addColumn<qint64>("iBodySize");  // -1: not checked

    addSchemeRows([](const char *pScheme, bool bTls) {
        auto row = [&](const char *pName, auto set) {
            Fault fault;
            set(fault);
            return &(QTest::addRow("%s/%s", pScheme, pName) << bTls << fault);
        };
        *row("status 500", [](Fault &f) { f.status = 500; })
            << 500 << QNetworkReply::InternalServerError << QByteArray() << qint64(-1);
        *row("status 404", [](Fault &f) { f.status = 404; })
            << 404 << QNetworkReply::ContentNotFoundError << QByteArray() << qint64(-1);
        *row("delay", [](Fault &f) { f.delayMs = 150; })
            << 200 << QNetworkReply::NoError << QByteArray("*") << qint64(-1);
        *row("empty body", [](Fault &f) { f.emptyBody = true; })
            << 200 << QNetworkReply::NoError << QByteArray() << qint64(0);
        *row("not json", [](Fault &f) { f.notJson = true; })
            << 200 << QNetworkReply::NoError << QByteArray("<html><body><h1>Device busy</h1></body></html>")
            << qint64(-1);
        *row("given body", [](Fault &f) { f.body = R"({"swver":42})"; })
            << 200 << QNetworkReply::NoError << QByteArray(R"({"swver":42})") << qint64(-1);
        *row("chunked", [](Fault &f) { f.chunked = true; })
            << 200 << QNetworkReply::NoError << QByteArray("*") << qint64(-1);
        *row("drop mid body", [](Fault &f) { f.dropMidBody = true; })
            << 200 << QNetworkReply::RemoteHostClosedError << QByteArray() << qint64(-1);
        *row("redirect", [](Fault &f) { f.redirectTo = "/elsewhere/"; })
            << 302 << QNetworkReply::NoError << QByteArray() << qint64(-1);
        *row("large body", [](Fault &f) { f.largeBodyBytes = 48 * 1024 * 1024 + 7; })
            << 200 << QNetworkReply::NoError << QByteArray() << qint64(48 * 1024 * 1024 + 7);
        *row("large chunked body",
             [](Fault &f) {
                 f.largeBodyBytes = 3 * 1024 * 1024;
                 f.chunked = true;
             })
            << 200 << QNetworkReply::NoError << QByteArray() << qint64(3 * 1024 * 1024);
    });
}

void TstDeviceSim::faults()
{
    QFETCH(bool, bTls);
    QFETCH(Fault, fault);
    QFETCH(int, iStatus);
    QFETCH(QNetworkReply::NetworkError, error);
    QFETCH(QByteArray, baBody);
    QFETCH(qint64, iBodySize);

    Simulator simulator(Simulator::Options{bTls});
    QVERIFY(simulator.start());
    const QString sBase = simulator.addDevice("1");
    Client client;
    const QByteArray baNormal = client.send("GET", sBase + "/api/system/info/").baBody;
    simulator.setFault("1", "/api/system/info/", fault);

    const Exchange exchange =
        client.send("GET", sBase + "/api/system/info/", QByteArray(), nullptr, iBodySize < 0);
    QVERIFY(exchange.bFinished);
    QCOMPARE(exchange.error, error);
    if (fault.dropMidBody) {
        const qint64 iAnnounced = exchange.pReply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        QCOMPARE(iAnnounced, qint64(baNormal.size()));
        QCOMPARE(exchange.iBodySize, iAnnounced / 2);
        return;
    }
    QCOMPARE(exchange.iStatus, iStatus);
    if (iBodySize >= 0)
        QCOMPARE(exchange.iBodySize, iBodySize);
    if (baBody == "*")
        QCOMPARE(parseJson(exchange.baBody).toObject().value("swver"), QJsonValue("3.2.1"));
    else if (iBodySize < 0 && iStatus == 200)
        QCOMPARE(exchange.baBody, baBody);
    if (fault.chunked)
        QVERIFY(!exchange.pReply->hasRawHeader("Content-Length"));
    if (!fault.redirectTo.isEmpty())
        QCOMPARE(exchange.pReply->rawHeader("Location"), fault.redirectTo.toUtf8());
    if (fault.largeBodyBytes > 0)
        QVERIFY(simulator.peakBufferedBytes() < 1024 * 1024);
}

void TstDeviceSim::hangIsRecordedAndReleased()
{
    Simulator simulator;
    QVERIFY(simulator.start());
    const QString sBase = simulator.addDevice("1");
    Fault hang;
    hang.hang = true;
    simulator.setFault("1", "/api/system/info/", hang);
    Client client;

    QNetworkReply *pReleased = client.nam.get(QNetworkRequest(QUrl(sBase + "/api/system/info/")));
    QTRY_COMPARE_WITH_TIMEOUT(simulator.requests("1").size(), 1, kWaitMs);
    QVERIFY(!pReleased->isFinished());
    simulator.clearFaults("1");
    const Exchange released = Client::wait(pReleased);
    QCOMPARE(released.iStatus, 200);

    simulator.setFault("1", "/api/system/info/", hang);
    QNetworkReply *pStopped = client.nam.get(QNetworkRequest(QUrl(sBase + "/api/system/info/")));
    QTRY_COMPARE_WITH_TIMEOUT(simulator.requests("1").size(), 2, kWaitMs);
    simulator.stop();
    const Exchange stopped = Client::wait(pStopped);
    QVERIFY(stopped.bFinished);
    QVERIFY(stopped.error != QNetworkReply::NoError);
}

void TstDeviceSim::malformedRequests_data()
{
    QTest::addColumn<QByteArray>("baRequest");
    QTest::addColumn<QByteArray>("baStatusLine");
    QTest::newRow("garbage request line") << QByteArray("NONSENSE\r\n\r\n") << QByteArray("HTTP/1.1 400");
    auto post = [](const QByteArray &baPath, const QByteArray &baContentType, const QByteArray &baBody) {
        return "POST /dev/1" + baPath + " HTTP/1.1\r\nHost: x\r\nContent-Type: " + baContentType +
               "\r\nContent-Length: " + QByteArray::number(baBody.size()) + "\r\n\r\n" + baBody;
    };
    QTest::newRow("multipart without closing boundary")
        << post("/api/system/management/db/import/", "multipart/form-data; boundary=XyZ",
                "--XyZ\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\nabcdefgh")
        << QByteArray("HTTP/1.1 400");
    QTest::newRow("multipart without boundary")
        << post("/api/system/management/fwupdate/upload/", "multipart/form-data", "abcd")
        << QByteArray("HTTP/1.1 400");
    QTest::newRow("bad query") << QByteArray(
                                      "GET /dev/1/api/snapshot/jpeg/?ch=%zz HTTP/1.1\r\nHost: x\r\n\r\n")
                               << QByteArray("HTTP/1.1 400");
}

void TstDeviceSim::malformedRequests()
{
    QFETCH(QByteArray, baRequest);
    QFETCH(QByteArray, baStatusLine);
    Simulator simulator;
    QVERIFY(simulator.start());
    const QString sBase = simulator.addDevice("1");

    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, simulator.port());
    QVERIFY(socket.waitForConnected(kWaitMs));
    socket.write(baRequest);
    QByteArray baAnswer;
    QTRY_VERIFY_WITH_TIMEOUT((baAnswer += socket.readAll()).contains("\r\n\r\n"), kWaitMs);
    QVERIFY2(baAnswer.startsWith(baStatusLine), baAnswer.constData());

    Client client;
    QCOMPARE(client.send("GET", sBase + "/api/system/info/").iStatus, 200);
}

void TstDeviceSim::controlPath()
{
    Simulator simulator;
    QVERIFY(simulator.start());
    const QString sBase = simulator.addDevice("1");
    simulator.addDevice("2");
    Client client;
    client.send("GET", sBase + "/api/system/info/?x=1");
    client.send("GET", simulator.baseUrl("2") + "/api/system/info/");

    const QString sControl = QStringLiteral("http://127.0.0.1:%1/_sim/requests").arg(simulator.port());
    const QJsonArray records =
        QJsonDocument::fromJson(client.send("GET", sControl + "?device=1").baBody).array();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].toObject().value("target").toString(), QString("/dev/1/api/system/info/?x=1"));
    QCOMPARE(records[0].toObject().value("apiPath").toString(), QString("/api/system/info/"));
    QCOMPARE(client.send("DELETE", sControl).iStatus, 200);
    QVERIFY(simulator.requests().isEmpty());
}

void TstDeviceSim::largeUploadStreams_data()
{
    QTest::addColumn<bool>("bTls");
    addSchemeRows([](const char *pScheme, bool bTls) { QTest::addRow("%s", pScheme) << bTls; });
}

void TstDeviceSim::largeUploadStreams()
{
    QFETCH(bool, bTls);
    const qint64 iSize = 200LL * 1024 * 1024 + 3;
    QTemporaryFile image;
    QVERIFY(image.open());
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray baBlock(1024 * 1024, Qt::Uninitialized);
    for (qint64 iWritten = 0; iWritten < iSize; iWritten += baBlock.size()) {
        for (int i = 0; i < baBlock.size(); i += 4096)
            baBlock[i] = char(iWritten / baBlock.size() + i);
        const QByteArray baPiece = baBlock.left(int(qMin<qint64>(baBlock.size(), iSize - iWritten)));
        hash.addData(baPiece);
        QCOMPARE(image.write(baPiece), qint64(baPiece.size()));
    }
    image.close();

    Simulator simulator(Simulator::Options{bTls});
    QVERIFY(simulator.start());
    const QString sBase = simulator.addDevice("1");
    [[maybe_unused]] const qint64 iPeakRssBefore = procStatusValue("VmHWM:");
    Client client;
    auto *pFile = new QFile(image.fileName());
    QVERIFY(pFile->open(QIODevice::ReadOnly));
    const Exchange exchange = client.send("POST", sBase + "/api/system/management/fwupdate/upload/",
                                          QByteArray(), fileForm("file", "fw.bin", pFile));
    QCOMPARE(exchange.iStatus, 200);
    QCOMPARE(simulator.firmware("1").uploads, 1);
    QCOMPARE(simulator.firmware("1").size, iSize);
    QCOMPARE(simulator.firmware("1").sha256Hex, hash.result().toHex());
    QVERIFY(simulator.peakBufferedBytes() < 1024 * 1024);
#ifndef __SANITIZE_ADDRESS__ // the sanitizer's quarantine keeps freed buffers resident
    if (iPeakRssBefore > 0)  // kB; the image would add 200 MiB if anything held it
        QVERIFY2(procStatusValue("VmHWM:") - iPeakRssBefore < 64 * 1024,
                 "resident memory grew with the upload");
#endif
    QCOMPARE(QJsonDocument::fromJson(
                 client.send("GET", sBase + "/api/system/management/fwupdate/progress/").baBody)
                 .object()
                 .value("state"),
             QJsonValue("done"));
}

void TstDeviceSim::stopFreesPortAndThreads()
{
    Client client;
    {
        // Brings up the access manager's own network thread before threads are counted.
        Simulator warmUp;
        QVERIFY(warmUp.start());
        QCOMPARE(client.send("GET", warmUp.addDevice("1") + "/api/system/info/").iStatus, 200);
    }
    const qint64 iThreadsBefore = procStatusValue("Threads:");

    Simulator simulator;
    QVERIFY(simulator.start());
    const quint16 iPort = simulator.port();
    QVERIFY(iPort != 0);
    const QString sBase = simulator.addDevice("1");
    QCOMPARE(client.send("GET", sBase + "/api/system/info/").iStatus, 200);

    // The access manager keeps its connection open; stopping must not wait for the keep-alive time-out (5 s).
    QElapsedTimer timer;
    timer.start();
    simulator.stop();
    QVERIFY(timer.elapsed() < 4000);
    QCOMPARE(procStatusValue("Threads:"), iThreadsBefore);
    QVERIFY(client.send("GET", sBase + "/api/system/info/").error != QNetworkReply::NoError);

    Simulator::Options samePort;
    samePort.port = iPort;
    Simulator again(samePort);
    QVERIFY(again.start());
    QCOMPARE(client.send("GET", again.addDevice("1") + "/api/system/info/").iStatus, 200);
}

QTEST_GUILESS_MAIN(TstDeviceSim)
#include "tst_devicesim.moc"
