// The HTTP transport against the device simulator over real sockets, for what a host cannot steer through
// the plugin: body framing and download files, failures and time-outs, authentication and the credential
// sets, URL user info, redirects, certificate pins, request layout, progress, and destruction in flight.
#include "devicesim.h"
#include "networkhandlerkestrol.h"
#include "testfiles.h"

#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

using devicesim::AuthMode;
using devicesim::Fault;

namespace {

const QString kUser = QStringLiteral("admin");
// Distinctive, so that a leak into any log line is found.
const QString kPassword = QStringLiteral("pw-secret-42");
const QString kInfo = QStringLiteral("/api/system/info/");
const QString kReboot = QStringLiteral("/api/system/management/reboot/");
const QString kFirmware = QStringLiteral("/api/system/management/fwupdate/upload/");
const QString kExport = QStringLiteral("/files/export/settings.ndb");

struct Completion
{
    QByteArray baResult;
    int iError = -1;
    int iCount = 0;
};

Fault makeFault(void (*pSet)(Fault &))
{
    Fault fault;
    pSet(fault);
    return fault;
}

// The user an Authorization header names, Basic or Digest.
QString userOf(const QByteArray &baAuthorization)
{
    if (baAuthorization.startsWith("Basic "))
        return QString::fromLatin1(QByteArray::fromBase64(baAuthorization.mid(6))).section(':', 0, 0);
    static const QRegularExpression username(QStringLiteral("username=\"([^\"]*)\""));
    return username.match(QString::fromLatin1(baAuthorization)).captured(1);
}

} // namespace

Q_DECLARE_METATYPE(devicesim::Fault)
Q_DECLARE_METATYPE(devicesim::AuthMode)

class TestTransport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void body_data();
    void body();
    void downloadIsStreamedAndAtomic();
    void failures_data();
    void failures();
    void authentication_data();
    void authentication();
    void afterChallenge_data();
    void afterChallenge();
    void cachedGetStaysWithItsSet_data();
    void cachedGetStaysWithItsSet();
    void userInfoNeverUsed_data();
    void userInfoNeverUsed();
    void redirects_data();
    void redirects();
    void certificatePin_data();
    void certificatePin();
    void httpOneOverTls();
    void requestLayout_data();
    void requestLayout();
    void progress_data();
    void progress();
    void destroyedWithTransfersInFlight();

private:
    void makeHandler();
    // "GET" (sFile: the download file), "POST" (a form body), or "UPLOAD" (sFile: the upload file).
    QString send(const QString &sMethod, const QString &sUrl, const QString &sUser = kUser,
                 const QString &sPassword = kPassword, const QString &sFile = {});
    bool await(const QString &sUuid, int iMs = 20000);
    QStringList logOf(const QString &sUuid) const;
    QString url(const QString &sDevice, const QString &sPath) const { return sim.baseUrl(sDevice) + sPath; }
    QString addDevice(const QString &sId, AuthMode auth, const QString &sUser, const QString &sPassword);

    devicesim::Simulator sim;
    devicesim::Simulator simTls{devicesim::Simulator::Options{true, 0, 16}};
    devicesim::Simulator simOther;
    QSslCertificate tlsCertificate;
    QSslConfiguration defaultSslConfiguration;
    QTemporaryDir tmp;
    QString sUpload;
    std::unique_ptr<QNetworkAccessManager> pManager;
    std::unique_ptr<NetworkHandlerKestrol> pHandler;
    QStringList lLog;
    QHash<QString, Completion> hCompletions;
    QList<QPair<QString, int>> lProgress;
    bool bInsideRequest = false;
    int iSignalsInsideRequest = 0;
};

void TestTransport::initTestCase()
{
    QVERIFY(tmp.isValid());
    QVERIFY(sim.start() && simTls.start() && simOther.start());
    simOther.addDevice("other");
    simTls.addDevice("open");
    QSslSocket socket;
    socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.connectToHostEncrypted("127.0.0.1", simTls.port());
    QVERIFY(socket.waitForEncrypted(10000));
    tlsCertificate = socket.peerCertificate();
    defaultSslConfiguration = QSslConfiguration::defaultConfiguration();
    addDevice("open", AuthMode::None, kUser, kPassword);
    addDevice("basic", AuthMode::Basic, kUser, kPassword);
    addDevice("digest", AuthMode::Digest, kUser, kPassword);
    sUpload = tmp.filePath("fw.bin");
    QVERIFY(writeFile(sUpload, patternBytes(300 * 1024, 7)));
}

void TestTransport::init()
{
    lLog.clear();
    hCompletions.clear();
    lProgress.clear();
    iSignalsInsideRequest = 0;
    sim.clearRequests();
    simTls.clearRequests();
    simOther.clearRequests();
    makeHandler();
}

// Every test ends with each request answered once, never from inside a request slot, no trace left in the
// handler, and no password, user info, Authorization value or line break in any log line.
void TestTransport::cleanup()
{
    for (auto it = hCompletions.constBegin(); it != hCompletions.constEnd(); ++it)
        QVERIFY2(it->iCount == 1, qPrintable(it.key()));
    QCOMPARE(iSignalsInsideRequest, 0);
    QVERIFY(!pHandler || pHandler->hRequests.isEmpty());
    static const QRegularExpression secret(
        QStringLiteral("%1|://[^/\\s@]*@|authorization|[\\r\\n]").arg(kPassword),
        QRegularExpression::CaseInsensitiveOption);
    for (const QString &sLine : qAsConst(lLog))
        QVERIFY2(!sLine.contains(secret), qPrintable(sLine));
    pHandler.reset();
    pManager.reset();
    for (const char *pcDevice : {"open", "basic", "digest"})
        sim.clearFaults(pcDevice);
    qunsetenv("KESTROL_TRANSFER_TIMEOUT_MS");
    qunsetenv("KESTROL_UPLOAD_TIMEOUT_MS");
    QSslConfiguration::setDefaultConfiguration(defaultSslConfiguration);
}

void TestTransport::makeHandler()
{
    pHandler.reset();
    pManager.reset(new QNetworkAccessManager);
    pHandler.reset(new NetworkHandlerKestrol(pManager.get()));
    connect(pHandler.get(), &NetworkHandlerKestrol::signal_log, this,
            [this](const QString &sLine) { lLog << sLine; });
    connect(pHandler.get(), &NetworkHandlerKestrol::signal_requestFinished, this,
            [this](const QString &sUuid, const QByteArray &baResult, int iError) {
                iSignalsInsideRequest += bInsideRequest;
                hCompletions[sUuid] = {baResult, iError, hCompletions.value(sUuid).iCount + 1};
            });
    connect(pHandler.get(), &NetworkHandlerKestrol::signal_progress, this,
            [this](const QString &sUuid, int iProgress) {
                iSignalsInsideRequest += bInsideRequest;
                lProgress.append({sUuid, iProgress});
            });
}

QString TestTransport::send(const QString &sMethod, const QString &sUrl, const QString &sUser,
                            const QString &sPassword, const QString &sFile)
{
    const QString sUuid = QUuid::createUuid().toString();
    bInsideRequest = true;
    if (sMethod == "GET")
        pHandler->prRequestGetCommand(sUuid, sUrl, sUser, sPassword, sFile);
    else
        pHandler->prRequestPostCommand(sUuid, sUrl, sUser, sPassword, sMethod == "UPLOAD" ? sFile : QString(),
                                       "file", sMethod == "POST" ? "reboot=1" : "", {});
    bInsideRequest = false;
    return sUuid;
}

bool TestTransport::await(const QString &sUuid, int iMs)
{
    return QTest::qWaitFor([&] { return hCompletions.contains(sUuid); }, iMs);
}

QStringList TestTransport::logOf(const QString &sUuid) const
{
    return lLog.filter(QStringLiteral("(%1)").arg(sUuid));
}

QString TestTransport::addDevice(const QString &sId, AuthMode auth, const QString &sUser,
                                 const QString &sPassword)
{
    devicesim::DeviceConfig config;
    config.user = sUser;
    config.password = sPassword;
    config.auth = auth;
    // Distinct answers, so that a request that reached another device shows.
    config.swver = sId;
    config.settings = "settings of " + sId.toLatin1();
    sim.addDevice(sId, config);
    return sId;
}

void TestTransport::body_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("file");        // below the row's directory; empty: the body comes in memory
    QTest::addColumn<QByteArray>("previous"); // non-empty: the file already holds this
    QTest::addColumn<bool>("link");           // the file is a symbolic link to one elsewhere
    QTest::addColumn<int>("sizeLimit");       // non-zero: the process may write no larger file
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("line"); // the start of one line of the request
    QTest::addColumn<QStringList>("files");

    const Fault none;
    const Fault empty = makeFault([](Fault &f) { f.emptyBody = true; });
    const Fault chunked = makeFault([](Fault &f) { f.chunked = true; });
    const Fault cut = makeFault([](Fault &f) { f.dropMidBody = true; });
    const Fault longer = makeFault([](Fault &f) {
        f.body = "{\"a\":1}";
        f.lengthMismatch = 100;
    });
    const Fault contradicted = makeFault([](Fault &f) {
        f.chunked = true;
        f.lengthMismatch = 100;
    });
    const Fault large = makeFault([](Fault &f) { f.largeBodyBytes = 1024 * 1024; });
    const QString sOk = "Request finished ok: ", sFailed = "Request finished with error: ";
    const QString sNewFile = "New download file: ", sNoFile = "Could not open download file: ";
    const QStringList lFile{"settings.ndb"}, lNone;
    // clang-format off
    QTest::newRow("memory") << none << "" << QByteArray() << false << 0 << 0 << sOk << lNone;
    QTest::newRow("memory, chunked") << chunked << "" << QByteArray() << false << 0 << 0 << sOk << lNone;
    QTest::newRow("memory, empty body") << empty << "" << QByteArray() << false << 0 << 0 << sOk << lNone;
    QTest::newRow("memory, cut off") << cut << "" << QByteArray() << false << 0 << 103 << sFailed << lNone;
    QTest::newRow("memory, length beyond") << longer << "" << QByteArray() << false << 0 << 103 << sFailed << lNone;
    QTest::newRow("file") << none << "settings.ndb" << QByteArray() << false << 0 << 0 << sNewFile << lFile;
    QTest::newRow("file replaced, chunked") << chunked << "settings.ndb" << QByteArray("old") << false << 0 << 0 << sNewFile << lFile;
    QTest::newRow("file, empty body") << empty << "settings.ndb" << QByteArray() << false << 0 << 0 << sNewFile << lFile;
    QTest::newRow("file, no directory") << none << "no/settings.ndb" << QByteArray() << false << 0 << 103 << sNoFile << lNone;
    QTest::newRow("file, cut off") << cut << "settings.ndb" << QByteArray("old") << false << 0 << 103 << sFailed << lFile;
    QTest::newRow("file, chunks against the length") << contradicted << "settings.ndb" << QByteArray() << false << 0 << 103 << "Incomplete body: " << lNone;
    QTest::newRow("file, symbolic link") << none << "settings.ndb" << QByteArray("old") << true << 0 << 103 << sNoFile << lFile;
    QTest::newRow("file, disk refuses") << large << "settings.ndb" << QByteArray() << false << 65536 << 103 << "Could not write download file: " << lNone;
    QTest::newRow("file, disk refuses, old kept") << large << "settings.ndb" << QByteArray("old") << false << 65536 << 103 << "Could not write download file: " << lFile;
    // clang-format on
}

// A body comes back in memory or lands whole in its file; a failed transfer leaves an existing file (or the
// file a link points to) untouched, and neither a partial nor a temporary file.
void TestTransport::body()
{
    QFETCH(Fault, fault);
    QFETCH(QString, file);
    QFETCH(QByteArray, previous);
    QFETCH(bool, link);
    QFETCH(int, sizeLimit);
    QFETCH(int, error);
    QFETCH(QString, line);
    QFETCH(QStringList, files);

    sim.setFault("open", kExport, fault);
    const QByteArray baExpected = fault.emptyBody ? QByteArray() : sim.settings("open");
    const QString sDir = tmp.filePath(QTest::currentDataTag());
    QVERIFY(QDir().mkpath(sDir));
    const QString sFile = file.isEmpty() ? QString() : sDir + '/' + file;
    const QString sElsewhere = tmp.filePath(QStringLiteral("elsewhere-%1").arg(QTest::currentDataTag()));
    if (!previous.isEmpty())
        QVERIFY(link ? writeFile(sElsewhere, previous) && QFile::link(sElsewhere, sFile)
                     : writeFile(sFile, previous));

    rlimit previousLimit{};
    getrlimit(RLIMIT_FSIZE, &previousLimit);
    if (sizeLimit) {
        // A write past the limit then fails with EFBIG, as on a full disk, instead of ending the process.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(sizeLimit), previousLimit.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    const QString sUuid = send("GET", url("open", kExport), kUser, kPassword, sFile);
    const bool bAnswered = await(sUuid);
    setrlimit(RLIMIT_FSIZE, &previousLimit);
    QVERIFY(bAnswered);
    const Completion completion = hCompletions.value(sUuid);
    QCOMPARE(completion.iError, error);
    QVERIFY2(!logOf(sUuid).filter(QRegularExpression("^" + QRegularExpression::escape(line))).isEmpty(),
             qPrintable(logOf(sUuid).join('\n')));
    QCOMPARE(completion.baResult, error || !sFile.isEmpty() ? QByteArray() : baExpected);
    QCOMPARE(filesUnder(sDir), files);
    if (!sFile.isEmpty() && !files.isEmpty())
        QCOMPARE(readFile(sFile), error ? previous : baExpected);
}

// While a large body arrives, nothing of it is held in memory and the target file does not exist yet.
void TestTransport::downloadIsStreamedAndAtomic()
{
    Fault large;
    large.largeBodyBytes = 48 * 1024 * 1024;
    sim.setFault("open", kExport, large);
    const QString sFile = tmp.filePath("large.bin");

    int iChecks = 0;
    connect(pHandler.get(), &NetworkHandlerKestrol::signal_progress, this,
            [&](const QString &, int iProgress) {
                if (iProgress >= 100)
                    return;
                ++iChecks;
                for (const auto *pRequest : qAsConst(pHandler->hRequests))
                    QVERIFY(pRequest->baData.isEmpty());
                QVERIFY(!QFile::exists(sFile));
            });
    const QString sUuid = send("GET", url("open", kExport), kUser, kPassword, sFile);
    QVERIFY(await(sUuid, 60000));
    QCOMPARE(hCompletions.value(sUuid).iError, 0);
    QVERIFY(iChecks > 0);
    QCOMPARE(QFileInfo(sFile).size(), large.largeBodyBytes);
}

void TestTransport::failures_data()
{
    QTest::addColumn<QString>("url");     // %1: the open device's base URL, %2: a port nobody listens on
    QTest::addColumn<QString>("upload");  // below the temporary directory; empty: a GET
    QTest::addColumn<Fault>("fault");     // of the URL's path
    QTest::addColumn<int>("uploadLimit"); // ms; the transfer limit is 500 ms
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("line"); // the start of exactly one line of the request; empty: none expected
    QTest::addColumn<int>("requests"); // that reached the device

    const Fault none;
    const Fault status = makeFault([](Fault &f) { f.status = 500; });
    const Fault hang = makeFault([](Fault &f) { f.hang = true; });
    const Fault slow = makeFault([](Fault &f) { f.delayMs = 1000; });
    const QString sInfo = "%1" + kInfo, sFirmware = "%1" + kFirmware;
    const QString sMissing = "Could not open upload file: " + tmp.filePath("no-such-dir/fw.bin") + ", ";
    // clang-format off
    QTest::newRow("not found") << "%1/api/no/such/path/" << "" << none << 500 << 103 << "Error: " << 1;
    QTest::newRow("server error") << sInfo << "" << status << 500 << 103 << "Error: " << 1;
    QTest::newRow("connection refused") << "http://127.0.0.1:%2/api/system/info/" << "" << none << 500 << 103 << "Error: " << 0;
    QTest::newRow("missing upload file") << sFirmware << "no-such-dir\\fw.bin" << none << 500 << 103 << sMissing << 0;
    QTest::newRow("silent device") << sInfo << "" << hang << 500 << 103 << "Request timed out: " << 1;
    QTest::newRow("silent device, upload") << sFirmware << "fw.bin" << hang << 500 << 103 << "Request timed out: " << 1;
    QTest::newRow("slow answer within the upload limit") << sFirmware << "fw.bin" << slow << 5000 << 0 << "" << 1;
    // clang-format on
}

// Every failure other than refused credentials is 103 (a time-out too, though Qt reports a cancellation),
// with an empty result, after one line naming it; an upload gets its own, longer inactivity limit.
void TestTransport::failures()
{
    QFETCH(QString, url);
    QFETCH(QString, upload);
    QFETCH(Fault, fault);
    QFETCH(int, uploadLimit);
    QFETCH(int, error);
    QFETCH(QString, line);
    QFETCH(int, requests);

    qputenv("KESTROL_TRANSFER_TIMEOUT_MS", "500");
    qputenv("KESTROL_UPLOAD_TIMEOUT_MS", QByteArray::number(uploadLimit));
    makeHandler();
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const quint16 iClosedPort = server.serverPort();
    server.close();
    sim.setFault("open", kInfo, fault);
    sim.setFault("open", kFirmware, fault);
    const QString sUrl =
        QString(url).replace("%1", sim.baseUrl("open")).replace("%2", QString::number(iClosedPort));

    const QString sUuid =
        send(upload.isEmpty() ? "GET" : "UPLOAD", sUrl, kUser, kPassword, tmp.filePath(upload));
    QVERIFY(await(sUuid));
    const Completion completion = hCompletions.value(sUuid);
    QCOMPARE(completion.iError, error);
    QCOMPARE(completion.baResult.isEmpty(), error != 0);
    const QStringList lLines = logOf(sUuid);
    QCOMPARE(lLines.filter(QRegularExpression("^" + QRegularExpression::escape(line))).size(),
             line.isEmpty() ? lLines.size() : 1);
    QCOMPARE(lLines.filter("Request finished with error: ").size(), error ? 1 : 0);
    QCOMPARE(sim.requests("open").size(), requests);
}

void TestTransport::authentication_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("challenges"); // forced 401 answers before the device looks at credentials
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("logins");

    // clang-format off
    QTest::newRow("basic, up front") << "basic" << "GET" << kUser << kPassword << 0 << 0 << 0;
    QTest::newRow("basic, refused twice") << "basic" << "GET" << kUser << "wrong-password" << 0 << 101 << 2;
    QTest::newRow("basic, no user") << "basic" << "GET" << "" << "" << 0 << 101 << 0;
    QTest::newRow("basic, challenged GET") << "basic" << "GET" << kUser << kPassword << 1 << 0 << 1;
    QTest::newRow("basic, POST refused") << "basic" << "POST" << kUser << "wrong-password" << 0 << 101 << 1;
    QTest::newRow("digest, GET") << "digest" << "GET" << kUser << kPassword << 0 << 0 << 1;
    QTest::newRow("digest, GET refused") << "digest" << "GET" << kUser << "wrong-password" << 0 << 101 << 2;
    QTest::newRow("digest, upload") << "digest" << "UPLOAD" << kUser << kPassword << 0 << 0 << 0;
    // clang-format on
}

// Credentials are supplied to at most two challenges of a request, the password masked in the log line. Qt
// answers the first challenge of a POST, and of a GET after the device has challenged one, from the
// request's own credentials without asking.
void TestTransport::authentication()
{
    QFETCH(QString, device);
    QFETCH(QString, method);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, challenges);
    QFETCH(int, error);
    QFETCH(int, logins);

    const QString sPath = method == "GET" ? kInfo : method == "POST" ? kReboot : kFirmware;
    Fault fault;
    fault.unauthorizedTimes = challenges;
    sim.setFault(device, sPath, fault);
    const QString sUuid = send(method, url(device, sPath), user, password, sUpload);
    QVERIFY(await(sUuid));
    QCOMPARE(hCompletions.value(sUuid).iError, error);
    QCOMPARE(logOf(sUuid).filter("Send login (slotAuthenticationRequired): admin / ****** (").size(), logins);
}

void TestTransport::afterChallenge_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<Fault>("getFault");
    QTest::addColumn<Fault>("uploadFault");
    QTest::addColumn<QList<int>>("codes"); // of POST, upload, GET, POST, upload, GET

    const Fault challenge = makeFault([](Fault &f) { f.unauthorizedTimes = 1; });
    // The device closes the connection amid each upload.
    const Fault cut = makeFault([](Fault &f) { f.dropMidBody = true; });
    // clang-format off
    QTest::newRow("digest") << "digest" << Fault() << Fault() << QList<int>{0, 0, 0, 0, 0, 0};
    QTest::newRow("basic that challenges") << "basic" << challenge << Fault() << QList<int>{0, 0, 0, 0, 0, 0};
    QTest::newRow("digest, reconnected after a POST") << "digest" << Fault() << cut << QList<int>{0, 103, 0, 0, 103, 0};
    // clang-format on
}

// Once a device has challenged, every later request on the access manager still gets through with its own
// credentials, also on a new connection after the device closed the one that answered the challenge.
void TestTransport::afterChallenge()
{
    QFETCH(QString, device);
    QFETCH(Fault, getFault);
    QFETCH(Fault, uploadFault);
    QFETCH(QList<int>, codes);

    sim.setFault(device, kInfo, getFault);
    sim.setFault(device, kFirmware, uploadFault);
    const int iUploadsBefore = sim.firmware(device).uploads;
    const QStringList lMethods{"POST", "UPLOAD", "GET", "POST", "UPLOAD", "GET"};
    const QStringList lPaths{kReboot, kFirmware, kInfo, kReboot, kFirmware, kInfo};
    for (int i = 0; i < lMethods.size(); ++i) {
        const QString sUuid = send(lMethods.at(i), url(device, lPaths.at(i)), kUser, kPassword, sUpload);
        QVERIFY(await(sUuid));
        QVERIFY2(hCompletions.value(sUuid).iError == codes.at(i), qPrintable(QString::number(i)));
    }
    QCOMPARE(sim.firmware(device).uploads, iUploadsBefore + 2);
}

void TestTransport::cachedGetStaysWithItsSet_data()
{
    QTest::addColumn<AuthMode>("auth");
    // clang-format off
    QTest::newRow("basic") << AuthMode::Basic;
    QTest::newRow("digest") << AuthMode::Digest;
    // clang-format on
}

// GETs of two credential sets on one origin (one user, two passwords), interleaved and in flight together:
// each reaches its own URL with its own credentials, never through the request a set keeps for its next GET.
void TestTransport::cachedGetStaysWithItsSet()
{
    QFETCH(AuthMode, auth);
    const QString sTag = QTest::currentDataTag();
    const QStringList lDevices{addDevice("alice-" + sTag, auth, kUser, "alice-secret"),
                               addDevice("bob-" + sTag, auth, kUser, "bob-secret")};
    QHash<QString, QString> hDeviceOf;
    QHash<QString, QString> hPathOf;
    for (int i = 0; i < 12; ++i) {
        const QString sPath = (i / 2 + i % 2) % 2 ? kExport : kInfo;
        const QString sUuid =
            send("GET", url(lDevices.at(i % 2), sPath), kUser, i % 2 ? "bob-secret" : "alice-secret");
        hDeviceOf.insert(sUuid, lDevices.at(i % 2));
        hPathOf.insert(sUuid, sPath);
    }
    for (auto it = hDeviceOf.cbegin(); it != hDeviceOf.cend(); ++it) {
        QVERIFY(await(it.key()));
        const Completion completion = hCompletions.value(it.key());
        QCOMPARE(completion.iError, 0);
        if (hPathOf.value(it.key()) == kExport)
            QCOMPARE(completion.baResult, sim.settings(it.value()));
        else
            QVERIFY2(completion.baResult.contains(it.value().toLatin1()), completion.baResult.constData());
    }
    for (const QString &sDevice : lDevices) {
        const QString sOwn = kUser + ':' + sDevice.section('-', 0, 0) + "-secret";
        for (const devicesim::RecordedRequest &request : sim.requests(sDevice)) {
            const QByteArray baAuthorization = request.headers.value("authorization");
            QVERIFY(!baAuthorization.startsWith("Basic ") ||
                    baAuthorization == "Basic " + sOwn.toLatin1().toBase64());
        }
    }
}
void TestTransport::userInfoNeverUsed_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("userInfo"); // put into the request URL
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("error");

    const QString sRight = kUser + ':' + kPassword;
    // clang-format off
    QTest::newRow("basic GET, other user info") << "basic" << "GET" << "intruder:other-secret" << kUser << kPassword << 0;
    QTest::newRow("basic GET, only user info") << "basic" << "GET" << sRight << "" << "" << 101;
    QTest::newRow("digest GET, only user info") << "digest" << "GET" << sRight << "" << "" << 101;
    QTest::newRow("digest GET, wrong password") << "digest" << "GET" << sRight << kUser << "wrong-password" << 101;
    QTest::newRow("digest POST, only user info") << "digest" << "POST" << sRight << "" << "" << 101;
    QTest::newRow("digest upload, other user info") << "digest" << "UPLOAD" << "intruder:other-secret" << kUser << kPassword << 0;
    // clang-format on
}

// User info in a request URL answers no challenge, nor does another credential set's password, and it goes
// out in no request and appears in no log line, also when the URL comes again (from the handler's table).
void TestTransport::userInfoNeverUsed()
{
    QFETCH(QString, device);
    QFETCH(QString, method);
    QFETCH(QString, userInfo);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, error);

    const QString sPath = method == "GET" ? kInfo : method == "UPLOAD" ? kFirmware : kReboot;
    const QString sUrl = url(device, sPath).replace("http://", "http://" + userInfo + '@');
    // Qt's credential cache now holds the device's password for its origin.
    const QString sRight = send(method, url(device, sPath), kUser, kPassword, sUpload);
    QVERIFY(await(sRight) && hCompletions.value(sRight).iError == 0);
    for (int i = 0; i < 2; ++i) {
        const QString sUuid = send(method, sUrl, user, password, sUpload);
        QVERIFY(await(sUuid));
        QCOMPARE(hCompletions.value(sUuid).iError, error);
        const QString sStripped = QRegularExpression::escape(url(device, sPath));
        QCOMPARE(
            logOf(sUuid).filter(QRegularExpression("^Got new \\w+-request: " + sStripped + " \\(")).size(),
            1);
        for (const QString &sLine : logOf(sUuid))
            QVERIFY2(!sLine.contains('@') && !sLine.contains(userInfo.section(':', 1)), qPrintable(sLine));
    }
    for (const devicesim::RecordedRequest &request : sim.requests(device))
        QVERIFY(userOf(request.headers.value("authorization")) != "intruder");
}

void TestTransport::redirects_data()
{
    QTest::addColumn<int>("policy"); // of the manager; -1: as constructed
    QTest::addColumn<bool>("sameOrigin");
    QTest::addColumn<int>("error");

    // clang-format off
    QTest::newRow("same origin, other origin") << int(QNetworkRequest::SameOriginRedirectPolicy) << false << 103;
    QTest::newRow("user verified, other origin") << int(QNetworkRequest::UserVerifiedRedirectPolicy) << false << 103;
    QTest::newRow("as constructed, same origin") << -1 << true << 103;
    QTest::newRow("no less safe, same origin") << int(QNetworkRequest::NoLessSafeRedirectPolicy) << true << 103;
    QTest::newRow("same origin, same origin") << int(QNetworkRequest::SameOriginRedirectPolicy) << true << 0;
    QTest::newRow("user verified, same origin") << int(QNetworkRequest::UserVerifiedRedirectPolicy) << true << 0;
    // clang-format on
}

// A redirect to another origin never takes the device's credentials along, whatever the manager's policy;
// within the origin a manager that chose same-origin (or user-verified) redirects has them followed, and one
// as constructed answers alike on Qt 5 and Qt 6.
void TestTransport::redirects()
{
    QFETCH(int, policy);
    QFETCH(bool, sameOrigin);
    QFETCH(int, error);

    if (policy >= 0)
        pManager->setRedirectPolicy(QNetworkRequest::RedirectPolicy(policy));
    const QString sTarget = sameOrigin ? url("basic", kExport) : simOther.baseUrl("other") + kInfo;
    Fault redirect;
    redirect.redirectTo = QString(sTarget).replace("http://", "http://intruder:" + kPassword + "@");
    sim.setFault("basic", kInfo, redirect);

    const QString sUuid = send("GET", url("basic", kInfo));
    QVERIFY(await(sUuid));
    QVERIFY2(hCompletions.value(sUuid).iError == error, qPrintable(logOf(sUuid).join('\n')));
    const QString sLine = error ? QStringLiteral("Redirect not followed: %1 -> %2 (%3)")
                                : QStringLiteral("Redirected: %1 / %2 (%3)");
    QCOMPARE(logOf(sUuid).filter(sLine.arg(url("basic", kInfo), sTarget, sUuid)).size(), 1);
    QVERIFY(simOther.requests().isEmpty());
    QCOMPARE(sim.requests("basic").size(), error ? 1 : 2);
}

void TestTransport::certificatePin_data()
{
    QTest::addColumn<QString>("pin");  // "certificate", "key" or "other"
    QTest::addColumn<bool>("trusted"); // the certificate verifies: no certificate errors
    QTest::addColumn<int>("error");

    // clang-format off
    QTest::newRow("no pin, self-signed") << "" << false << 0;
    QTest::newRow("certificate, self-signed") << "certificate" << false << 0;
    QTest::newRow("public key, self-signed") << "key" << false << 0;
    QTest::newRow("other, self-signed") << "other" << false << 103;
    QTest::newRow("public key, trusted") << "key" << true << 0;
    QTest::newRow("other, trusted") << "other" << true << 103;
    // clang-format on
}

// Without a pin certificate errors are ignored after a log line. A pinned request goes out only over a
// connection that showed the pinned certificate or key; another one ends the request before any of it is
// sent, also for the next request with that pin.
void TestTransport::certificatePin()
{
    QFETCH(QString, pin);
    QFETCH(bool, trusted);
    QFETCH(int, error);

    if (trusted) {
        QSslConfiguration configuration = defaultSslConfiguration;
        configuration.setCaCertificates(configuration.caCertificates() << tlsCertificate);
        QSslConfiguration::setDefaultConfiguration(configuration);
    }
    const QByteArray baPinned = pin == "certificate" ? tlsCertificate.toDer()
                                : pin == "key"       ? tlsCertificate.publicKey().toDer()
                                                     : QByteArray("another device");
    const QString sPin = pin.isEmpty() ? QString() : QString::fromLatin1(sha256Hex(baPinned));
    const QString sUrl = simTls.baseUrl("open") + kInfo;
    for (int i = 0; i < 2; ++i) {
        const QString sUuid = QUuid::createUuid().toString();
        pHandler->prRequestGetCommand(sUuid, sUrl, kUser, kPassword, QString(), {}, sPin);
        QVERIFY(await(sUuid));
        QCOMPARE(hCompletions.value(sUuid).iError, error);
        QCOMPARE(logOf(sUuid).filter(QStringLiteral("Certificate mismatch: %1 (%2)").arg(sUrl, sUuid)).size(),
                 error ? 1 : 0);
        // Only a new connection is verified; the second request of a matching pin reuses the first's.
        QCOMPARE(logOf(sUuid).filter(QStringLiteral("Ignoring SSL errors: %1 / ").arg(sUrl)).size(),
                 i == 0 && !trusted && !error ? 1 : 0);
    }
    QCOMPARE(simTls.requests("open").size(), error ? 0 : 2);
}

// Devices speak HTTP/1.1 only: the TLS handshake never offers HTTP/2 (Qt 6 would, first).
void TestTransport::httpOneOverTls()
{
    const QString sUuid = send("GET", simTls.baseUrl("open") + kInfo);
    QVERIFY(await(sUuid));
    QCOMPARE(hCompletions.value(sUuid).iError, 0);
    for (const QByteArray &baOffer : simTls.protocolOffers())
        QVERIFY2(!baOffer.split(',').contains("h2"), baOffer.constData());
}

void TestTransport::requestLayout_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<bool>("clientHeaders"); // its user agent and Accept
    QTest::addColumn<QByteArray>("body");    // not for an upload

    QTest::newRow("GET") << "GET" << QByteArray("Basic Og==") << true << QByteArray();
    QTest::newRow("POST") << "POST" << QByteArray() << false << QByteArray("reboot=1");
    QTest::newRow("upload") << "UPLOAD" << QByteArray() << false << QByteArray();
}

// Requests as the device receives them: GET carries Basic credentials up front, its user agent and Accept;
// POST its body; an upload (from a path with backslashes) its one file part.
void TestTransport::requestLayout()
{
    QFETCH(QString, method);
    QFETCH(QByteArray, authorization);
    QFETCH(bool, clientHeaders);
    QFETCH(QByteArray, body);

    const QString sFile = method == "UPLOAD" ? QString(sUpload).replace('/', '\\') : QString();
    QVERIFY(await(send(method, url("open", method == "UPLOAD" ? kFirmware : kInfo), "", "", sFile)));

    const devicesim::RecordedRequest request = sim.requests("open").value(0);
    QCOMPARE(request.method, method == "GET" ? QByteArray("GET") : QByteArray("POST"));
    QCOMPARE(request.headers.value("authorization"), authorization);
    QCOMPARE(request.headers.value("user-agent") == "Client Application", clientHeaders);
    QCOMPARE(request.headers.value("accept") == "*/*", clientHeaders);
    QVERIFY(!request.headers.contains("cookie"));
    if (method != "UPLOAD") {
        QCOMPARE(request.body, body);
        return;
    }
    QVERIFY(request.contentType.startsWith("multipart/form-data; boundary="));
    QCOMPARE(request.parts.size(), 1);
    const devicesim::RecordedPart part = request.parts.first();
    QCOMPARE(part.name + ' ' + part.filename + ' ' + part.contentType,
             QByteArray("file fw.bin application/octet-stream"));
    QCOMPARE(part.sha256Hex, sha256Hex(readFile(sUpload)));
}

void TestTransport::progress_data()
{
    QTest::addColumn<Fault>("fault"); // of the download
    QTest::addColumn<bool>("upload");
    QTest::addColumn<bool>("progress");

    // clang-format off
    QTest::newRow("download with length") << makeFault([](Fault &f) { f.largeBodyBytes = 1024 * 1024; }) << false << true;
    QTest::newRow("chunked download") << makeFault([](Fault &f) { f.chunked = true; }) << false << false;
    QTest::newRow("empty body") << makeFault([](Fault &f) { f.emptyBody = true; }) << false << false;
    QTest::newRow("upload") << Fault() << true << true;
    // clang-format on
}

// Percentages stay within 0 to 100 and end at 100, with one line each; without a known total there are none.
void TestTransport::progress()
{
    QFETCH(Fault, fault);
    QFETCH(bool, upload);
    QFETCH(bool, progress);
    const int iFullBytes = 1024 * 1024;

    sim.setFault("open", kExport, fault);
    const QString sFile = tmp.filePath("large-upload.bin");
    QVERIFY(!upload || writeFile(sFile, QByteArray(iFullBytes, 'u')));
    const QString sUuid = upload ? send("UPLOAD", url("open", kFirmware), kUser, kPassword, sFile)
                                 : send("GET", url("open", kExport));
    QVERIFY(await(sUuid));
    QCOMPARE(hCompletions.value(sUuid).iError, 0);

    QList<int> lValues;
    for (const auto &value : qAsConst(lProgress)) {
        QCOMPARE(value.first, sUuid);
        QVERIFY2(value.second >= 0 && value.second <= 100, qPrintable(QString::number(value.second)));
        lValues << value.second;
    }
    QCOMPARE(!lValues.isEmpty(), progress);
    QVERIFY(lValues.isEmpty() || lValues.contains(100));
    QCOMPARE(logOf(sUuid).filter(QRegularExpression("^(Download|Upload) progress: ")).size(), lValues.size());
    QCOMPARE(logOf(sUuid).filter(QRegularExpression("^Upload progress: ")).isEmpty(), !upload);
    // The line of the whole transfer shows its size as the system locale writes it.
    const QString sFull = QLocale::system().formattedDataSize(iFullBytes, 2, QLocale::DataSizeIecFormat);
    QCOMPARE(logOf(sUuid).filter(" -> " + sFull + " / " + sFull + " (").size(), progress ? 1 : 0);
}

// Destroying the handler while uploads and a download are under way answers nothing and leaves nothing: the
// multipart bodies go with their replies, the unfinished download file vanishes.
void TestTransport::destroyedWithTransfersInFlight()
{
    sim.setFault("open", kFirmware, makeFault([](Fault &f) { f.hang = true; }));
    sim.setFault("open", kExport,
                 makeFault([](Fault &f) { f.largeBodyBytes = qint64(4) * 1024 * 1024 * 1024; }));
    for (int i = 0; i < 4; ++i)
        send("UPLOAD", url("open", kFirmware), kUser, kPassword, sUpload);
    const QString sDir = tmp.filePath("in-flight");
    QVERIFY(QDir().mkpath(sDir));
    const QString sDownload = send("GET", url("open", kExport), kUser, kPassword, sDir + "/settings.ndb");

    QList<QPointer<QHttpMultiPart>> lBodies;
    for (const auto *pRequest : qAsConst(pHandler->hRequests)) {
        if (auto *pBody = pRequest->pReply->findChild<QHttpMultiPart *>())
            lBodies << pBody;
    }
    QCOMPARE(lBodies.size(), 4);
    QVERIFY(
        QTest::qWaitFor([&] { return !lProgress.isEmpty() && lProgress.last().first == sDownload; }, 10000));
    pHandler.reset();
    QTRY_VERIFY(
        std::all_of(lBodies.cbegin(), lBodies.cend(), [](const auto &pBody) { return pBody.isNull(); }));
    QCOMPARE(filesUnder(sDir), QStringList());
    QTest::qWait(100);
    QVERIFY(hCompletions.isEmpty());
}

QTEST_GUILESS_MAIN(TestTransport)
#include "tst_transport.moc"
