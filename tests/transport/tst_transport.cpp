// The HTTP transport against the device simulator over real sockets: bodies and download files, framing
// faults, result codes, authentication (Basic, Digest, changed credentials), TLS and certificate pins,
// redirects, multipart layout, headers, progress, time-outs, destruction in flight, and that every request
// leaves no trace once it has been answered exactly once.
#include "devicesim.h"
#include "networkhandlerkestrol.h"

#include <QCryptographicHash>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSaveFile>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <memory>

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
    QString sText;
};

QByteArray sha256Hex(const QByteArray &baData)
{
    return QCryptographicHash::hash(baData, QCryptographicHash::Sha256).toHex();
}

QByteArray readFile(const QString &sPath)
{
    QFile file(sPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &sPath, const QByteArray &baData)
{
    QFile file(sPath);
    return file.open(QIODevice::WriteOnly) && file.write(baData) == baData.size();
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
    void timeouts_data();
    void timeouts();
    void authentication_data();
    void authentication();
    void consecutiveRequests_data();
    void consecutiveRequests();
    void credentialChange_data();
    void credentialChange();
    void multipartLayout_data();
    void multipartLayout();
    void headers_data();
    void headers();
    void invokableByName();
    void emptyUrlRefused_data();
    void emptyUrlRefused();
    void emptyIdentifierIsNotFollowed();
    void progress_data();
    void progress();
    void redirects_data();
    void redirects();
    void certificatePin_data();
    void certificatePin();
    void httpOneOverTls();
    void destroyedWithTransfersInFlight();
    void burstAnsweredOnce();
    void challengeAfterReconnect();

private:
    void makeHandler();
    QString get(const QString &sUrl, const QString &sUser = kUser, const QString &sPassword = kPassword,
                const QString &sFile = {}, const QHash<QString, QString> &hCookies = {});
    QString put(const QString &sUrl, const QString &sBody, const QHash<QString, QString> &hCookies = {});
    QString post(const QString &sUrl, const QString &sUpload = {}, const QString &sBody = {},
                 const QHash<QString, QString> &hCookies = {}, const QString &sUser = kUser,
                 const QString &sPassword = kPassword);
    bool await(const QString &sUuid, int iMs = 20000);
    QStringList logOf(const QString &sUuid) const;
    QString url(const QString &sDevice, const QString &sPath) const;
    devicesim::RecordedRequest lastRequest(const QString &sDevice) const;
    QString tempFile(const QString &sName, const QByteArray &baContent);

    devicesim::Simulator sim;
    devicesim::Simulator simTls{devicesim::Simulator::Options{true, 0, 16}};
    devicesim::Simulator simOther;
    QSslCertificate tlsCertificate;
    QSslConfiguration defaultSslConfiguration;
    QTemporaryDir tmp;
    std::unique_ptr<QNetworkAccessManager> pManager;
    std::unique_ptr<NetworkHandlerKestrol> pHandler;
    QStringList lLog;
    QHash<QString, Completion> hCompletions;
    QHash<QString, int> hCompletionCount;
    QList<QPair<QString, int>> lProgress;
    bool bInsideRequest = false;
    int iSignalsInsideRequest = 0;
};

void TestTransport::initTestCase()
{
    QVERIFY(tmp.isValid());
    QVERIFY(sim.start());
    QVERIFY(simTls.start());
    QVERIFY(simOther.start());
    simOther.addDevice("other");
    QSslSocket socket;
    socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.connectToHostEncrypted("127.0.0.1", simTls.port());
    QVERIFY(socket.waitForEncrypted(10000));
    tlsCertificate = socket.peerCertificate();
    defaultSslConfiguration = QSslConfiguration::defaultConfiguration();
    const QList<QPair<QString, AuthMode>> lDevices{
        {"open", AuthMode::None}, {"basic", AuthMode::Basic}, {"digest", AuthMode::Digest}};
    for (const auto &device : lDevices) {
        devicesim::DeviceConfig config;
        config.user = kUser;
        config.password = kPassword;
        config.auth = device.second;
        sim.addDevice(device.first, config);
    }
    simTls.addDevice("open");
}

void TestTransport::init()
{
    lLog.clear();
    hCompletions.clear();
    hCompletionCount.clear();
    lProgress.clear();
    iSignalsInsideRequest = 0;
    sim.clearRequests();
    simTls.clearRequests();
    simOther.clearRequests();
    makeHandler();
}

// Every test ends with each request answered once, never from inside a request slot, no trace left in
// any table, and no password in any log line.
void TestTransport::cleanup()
{
    for (auto it = hCompletionCount.constBegin(); it != hCompletionCount.constEnd(); ++it)
        QVERIFY2(it.value() == 1, qPrintable(it.key()));
    QCOMPARE(iSignalsInsideRequest, 0);
    QVERIFY(!pHandler || pHandler->hRequests.isEmpty());
    for (const QString &sLine : qAsConst(lLog))
        QVERIFY2(!sLine.contains(kPassword), qPrintable(sLine));
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
            [this](const QString &sUuid, const QByteArray &baResult, int iError, const QString &sText) {
                iSignalsInsideRequest += bInsideRequest;
                hCompletions.insert(sUuid, {baResult, iError, sText});
                ++hCompletionCount[sUuid];
            });
    connect(pHandler.get(), &NetworkHandlerKestrol::signal_progress, this,
            [this](const QString &sUuid, int iProgress) {
                iSignalsInsideRequest += bInsideRequest;
                lProgress.append({sUuid, iProgress});
            });
}

QString TestTransport::get(const QString &sUrl, const QString &sUser, const QString &sPassword,
                           const QString &sFile, const QHash<QString, QString> &hCookies)
{
    const QString sUuid = QUuid::createUuid().toString();
    bInsideRequest = true;
    pHandler->prRequestGetCommand(sUuid, sUrl, sUser, sPassword, sFile, hCookies);
    bInsideRequest = false;
    return sUuid;
}

QString TestTransport::put(const QString &sUrl, const QString &sBody, const QHash<QString, QString> &hCookies)
{
    const QString sUuid = QUuid::createUuid().toString();
    bInsideRequest = true;
    pHandler->prRequestPutCommand(sUuid, sUrl, kUser, kPassword, QString(), sBody, hCookies);
    bInsideRequest = false;
    return sUuid;
}

QString TestTransport::post(const QString &sUrl, const QString &sUpload, const QString &sBody,
                            const QHash<QString, QString> &hCookies, const QString &sUser,
                            const QString &sPassword)
{
    const QString sUuid = QUuid::createUuid().toString();
    bInsideRequest = true;
    pHandler->prRequestPostCommand(sUuid, sUrl, sUser, sPassword, sUpload, "file", sBody, hCookies);
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

QString TestTransport::url(const QString &sDevice, const QString &sPath) const
{
    return sim.baseUrl(sDevice) + sPath;
}

devicesim::RecordedRequest TestTransport::lastRequest(const QString &sDevice) const
{
    const auto lRequests = sim.requests(sDevice);
    return lRequests.isEmpty() ? devicesim::RecordedRequest() : lRequests.last();
}

QString TestTransport::tempFile(const QString &sName, const QByteArray &baContent)
{
    const QString sPath = tmp.filePath(sName);
    return writeFile(sPath, baContent) ? sPath : QString();
}

void TestTransport::body_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<Fault>("fault");
    // "": in memory; "new", "existing", "nodir" or "symlink" (to a file elsewhere): to a file
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("logLine"); // expected at the start of one line of the request

    Fault none;
    Fault empty;
    empty.emptyBody = true;
    Fault chunked;
    chunked.chunked = true;
    Fault cut;
    cut.dropMidBody = true;
    QTest::newRow("memory") << kExport << none << "" << 0 << "Request finished ok: ";
    QTest::newRow("memory, empty body") << kExport << empty << "" << 0 << "Request finished ok: ";
    QTest::newRow("memory, chunked") << kExport << chunked << "" << 0 << "Request finished ok: ";
    QTest::newRow("file") << kExport << none << "new" << 0 << "New download file: ";
    QTest::newRow("file replaced") << kExport << none << "existing" << 0 << "New download file: ";
    QTest::newRow("file, empty body") << kExport << empty << "new" << 0 << "New download file: ";
    QTest::newRow("file, chunked") << kExport << chunked << "existing" << 0 << "New download file: ";
    QTest::newRow("file, no directory")
        << kExport << none << "nodir" << 103 << "Could not open download file: ";
    QTest::newRow("file, cut off") << kExport << cut << "existing" << 103 << "Request finished with error: ";
    QTest::newRow("memory, cut off") << kExport << cut << "" << 103 << "Request finished with error: ";
    Fault longerLength;
    longerLength.body = "{\"a\":1}";
    longerLength.lengthMismatch = 100;
    QTest::newRow("memory, length beyond the body")
        << kExport << longerLength << "" << 103 << "Request finished with error: ";
    Fault contradicted = longerLength;
    contradicted.chunked = true;
    QTest::newRow("file, chunks against the length")
        << kExport << contradicted << "new" << 103 << "Incomplete body: ";
    QTest::newRow("file, symbolic link")
        << kExport << none << "symlink" << 103 << "Could not open download file: ";
}

// A body comes back in memory or lands in its file; a failed transfer leaves an existing file untouched
// and creates none.
void TestTransport::body()
{
    QFETCH(QString, path);
    QFETCH(Fault, fault);
    QFETCH(QString, file);
    QFETCH(int, error);
    QFETCH(QString, logLine);

    sim.setFault("open", path, fault);
    const QByteArray baExpected = fault.emptyBody ? QByteArray() : sim.settings("open");
    // One directory per row, so that a temporary file left behind would show.
    const QDir dir(tmp.filePath(QTest::currentDataTag()));
    QString sFile;
    if (file == "nodir")
        sFile = dir.filePath("settings.ndb");
    else if (!file.isEmpty())
        sFile = QDir().mkpath(dir.path()) ? dir.filePath("settings.ndb") : QString();
    if (file == "existing")
        QVERIFY(writeFile(sFile, "previous content"));
    const QString sElsewhere = tmp.filePath(QStringLiteral("elsewhere-%1").arg(QTest::currentDataTag()));
    if (file == "symlink")
        QVERIFY(writeFile(sElsewhere, "previous content") && QFile::link(sElsewhere, sFile));

    const QString sUuid = get(url("open", path), kUser, kPassword, sFile);
    QVERIFY(await(sUuid));
    const Completion completion = hCompletions.value(sUuid);
    QCOMPARE(completion.iError, error);
    QCOMPARE(completion.sText, error ? QString("Finished error") : QString("Finished ok"));
    QVERIFY2(!logOf(sUuid).filter(QRegularExpression("^" + QRegularExpression::escape(logLine))).isEmpty(),
             qPrintable(logOf(sUuid).join('\n')));

    if (sFile.isEmpty()) {
        QCOMPARE(completion.baResult, error ? QByteArray() : baExpected);
        return;
    }
    QVERIFY(completion.baResult.isEmpty());
    if (error == 0)
        QCOMPARE(readFile(sFile), baExpected);
    else if (file == "existing" || file == "symlink")
        QCOMPARE(readFile(sFile), QByteArray("previous content"));
    const bool bFileExpected = error == 0 || file == "existing" || file == "symlink";
    QCOMPARE(dir.entryList(QDir::Files | QDir::Hidden),
             bFileExpected ? QStringList{"settings.ndb"} : QStringList());
}

// While a large body arrives, nothing of it is buffered in memory and the target file does not exist yet.
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
    const QString sUuid = get(url("open", kExport), kUser, kPassword, sFile);
    QVERIFY(await(sUuid, 60000));
    QCOMPARE(hCompletions.value(sUuid).iError, 0);
    QVERIFY(iChecks > 0);
    QCOMPARE(QFileInfo(sFile).size(), large.largeBodyBytes);
}

void TestTransport::failures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("not found") << "404"
                               << "Error: ";
    QTest::newRow("server error") << "500"
                                  << "Error: ";
    QTest::newRow("connection refused") << "refused"
                                        << "Error: ";
    QTest::newRow("missing upload file") << "upload"
                                         << "Could not open upload file: ";
    QTest::newRow("redirect not followed") << "302"
                                           << "Redirect not followed: ";
}

// Every failure other than refused credentials is 103, with an empty result, after one log line naming it.
void TestTransport::failures()
{
    QFETCH(QString, kind);
    QFETCH(QString, logLine);

    QString sUuid;
    if (kind == "404") {
        sUuid = get(url("open", "/api/no/such/path/"));
    } else if (kind == "500") {
        Fault fault;
        fault.status = 500;
        sim.setFault("open", kInfo, fault);
        sUuid = get(url("open", kInfo));
    } else if (kind == "302") {
        Fault fault;
        fault.redirectTo = url("open", "/api/system/info/");
        sim.setFault("open", kInfo, fault);
        sUuid = get(url("open", kInfo));
    } else if (kind == "refused") {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const quint16 iPort = server.serverPort();
        server.close();
        sUuid = get(QStringLiteral("http://127.0.0.1:%1/api/system/info/").arg(iPort));
    } else {
        const QString sMissing = tmp.filePath("no-such-dir") + "\\fw.bin";
        // The URL's user info stays out of every line (checked in cleanup()).
        sUuid = post(url("open", kFirmware).replace("http://", "http://admin:" + kPassword + "@"), sMissing);
        QVERIFY(logOf(sUuid).filter("Send post-request").isEmpty());
        QVERIFY(logOf(sUuid).filter(tmp.filePath("no-such-dir") + "/fw.bin").size() == 1);
    }
    QVERIFY(await(sUuid));
    const Completion completion = hCompletions.value(sUuid);
    QCOMPARE(completion.iError, 103);
    QCOMPARE(completion.sText, QString("Finished error"));
    QVERIFY(completion.baResult.isEmpty());
    QCOMPARE(logOf(sUuid).filter(QRegularExpression("^" + QRegularExpression::escape(logLine))).size(), 1);
    QCOMPARE(logOf(sUuid).filter("Request finished with error: ").size(), 1);
    if (kind == "upload") {
        QTest::qWait(100);
        QVERIFY(sim.requests("open").isEmpty());
    }
}

void TestTransport::timeouts_data()
{
    QTest::addColumn<bool>("multipart");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("error");
    QTest::newRow("silent device") << false << -1 << 103;
    QTest::newRow("silent device, upload") << true << -1 << 103;
    QTest::newRow("slow answer within the upload limit") << true << 1500 << 0;
}

// The transfer limit is 400 ms and the upload limit 5 s here: a silent device ends a request with 103
// (not 101, although Qt reports a cancellation), and an upload gets its own, longer limit.
void TestTransport::timeouts()
{
    QFETCH(bool, multipart);
    QFETCH(int, delayMs);
    QFETCH(int, error);

    qputenv("KESTROL_TRANSFER_TIMEOUT_MS", "400");
    qputenv("KESTROL_UPLOAD_TIMEOUT_MS", multipart && delayMs < 0 ? "400" : "5000");
    makeHandler();
    Fault fault;
    fault.hang = delayMs < 0;
    fault.delayMs = qMax(delayMs, 0);
    const QString sPath = multipart ? kFirmware : kInfo;
    sim.setFault("open", sPath, fault);

    const QString sUuid =
        multipart ? post(url("open", sPath), tempFile("fw.bin", "image")) : get(url("open", sPath));
    QVERIFY(await(sUuid));
    QCOMPARE(hCompletions.value(sUuid).iError, error);
    QCOMPARE(logOf(sUuid).filter("Request timed out: ").size(), error ? 1 : 0);
}

void TestTransport::authentication_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("challenges"); // forced 401 answers before the device looks at credentials
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("logins");

    QTest::newRow("basic, preemptive") << "basic"
                                       << "GET" << kPassword << 0 << 0 << 0;
    QTest::newRow("basic, refused twice") << "basic"
                                          << "GET"
                                          << "wrong" << 0 << 101 << 2;
    QTest::newRow("basic, no user") << "basic"
                                    << "GET-nouser"
                                    << "" << 0 << 101 << 0;
    QTest::newRow("basic, challenged GET") << "basic"
                                           << "GET" << kPassword << 1 << 0 << 1;
    QTest::newRow("basic, challenged POST") << "basic"
                                            << "POST" << kPassword << 1 << 0 << 0;
    QTest::newRow("basic, POST refused") << "basic"
                                         << "POST"
                                         << "wrong" << 0 << 101 << 1;
    QTest::newRow("digest, GET") << "digest"
                                 << "GET" << kPassword << 0 << 0 << 1;
    QTest::newRow("digest, GET refused") << "digest"
                                         << "GET"
                                         << "wrong" << 0 << 101 << 2;
    QTest::newRow("digest, POST") << "digest"
                                  << "POST" << kPassword << 0 << 0 << 0;
    QTest::newRow("digest, multipart") << "digest"
                                       << "MULTIPART" << kPassword << 0 << 0 << 0;
    QTest::newRow("digest, PUT") << "digest"
                                 << "PUT" << kPassword << 0 << 103 << 0;
}

// Credentials are supplied to at most two challenges of a request, with the password masked in the log. Qt
// answers the first challenge of a POST or PUT, and of a GET after the device has challenged one, from the
// request's own credentials without asking.
void TestTransport::authentication()
{
    QFETCH(QString, device);
    QFETCH(QString, method);
    QFETCH(QString, password);
    QFETCH(int, challenges);
    QFETCH(int, error);
    QFETCH(int, logins);

    const QString sPath = method == "POST" ? kReboot : method == "MULTIPART" ? kFirmware : kInfo;
    if (challenges) {
        Fault fault;
        fault.unauthorizedTimes = challenges;
        sim.setFault(device, sPath, fault);
    }
    QString sUuid;
    if (method.startsWith("GET"))
        sUuid = get(url(device, sPath), method == "GET" ? kUser : QString(), password);
    else if (method == "PUT")
        sUuid = put(url(device, sPath), "{}");
    else
        sUuid = post(url(device, sPath), method == "MULTIPART" ? tempFile("fw.bin", "image") : QString(), {},
                     {}, kUser, password);
    QVERIFY(await(sUuid));
    QCOMPARE(hCompletions.value(sUuid).iError, error);
    const QStringList lLogins = logOf(sUuid).filter("Send login (slotAuthenticationRequired): ");
    QCOMPARE(lLogins.size(), logins);
    for (const QString &sLine : lLogins)
        QCOMPARE(sLine,
                 QStringLiteral("Send login (slotAuthenticationRequired): admin / ****** (%1)").arg(sUuid));
}

void TestTransport::consecutiveRequests_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("challenges");
    QTest::newRow("digest") << "digest" << 0;
    QTest::newRow("basic that challenges") << "basic" << 1;
}

// Once a device has challenged, every later request on the same access manager still gets through.
void TestTransport::consecutiveRequests()
{
    QFETCH(QString, device);
    QFETCH(int, challenges);

    if (challenges) {
        Fault fault;
        fault.unauthorizedTimes = challenges;
        sim.setFault(device, kInfo, fault);
    }
    const QString sUpload = tempFile("fw.bin", QByteArray(70000, 'x'));
    const int iUploadsBefore = sim.firmware(device).uploads;
    for (int i = 0; i < 10; ++i) {
        QString sUuid;
        switch (i % 3) {
        case 0:
            sUuid = get(url(device, kInfo));
            break;
        case 1:
            sUuid = post(url(device, kReboot));
            break;
        default:
            sUuid = post(url(device, kFirmware), sUpload);
            break;
        }
        QVERIFY(await(sUuid));
        QVERIFY2(hCompletions.value(sUuid).iError == 0, qPrintable(QString::number(i)));
    }
    QCOMPARE(sim.firmware(device).uploads, iUploadsBefore + 3);
}

void TestTransport::credentialChange_data()
{
    QTest::addColumn<AuthMode>("auth");
    QTest::addColumn<bool>("usePost");
    QTest::newRow("basic, GET") << AuthMode::Basic << false;
    QTest::newRow("basic, POST") << AuthMode::Basic << true;
    QTest::newRow("digest, GET") << AuthMode::Digest << false;
    QTest::newRow("digest, POST") << AuthMode::Digest << true;
}

// On one access manager, each request is answered with its own credentials, never with ones that an
// earlier request left in Qt's caches: the device's password changes, then the host's.
void TestTransport::credentialChange()
{
    QFETCH(AuthMode, auth);
    QFETCH(bool, usePost);

    struct Step
    {
        QString sDevicePassword, sRequestPassword;
        int iError;
    };
    const QList<Step> lSteps{{"first", "first", 0},   {"second", "first", 101}, {"second", "second", 0},
                             {"second", "second", 0}, {"second", "other", 101}, {"second", "second", 0}};
    const QString sDevice = QStringLiteral("rotating-%1").arg(QTest::currentDataTag());
    QString sCurrentPassword;
    for (const Step &step : lSteps) {
        if (step.sDevicePassword != sCurrentPassword) {
            devicesim::DeviceConfig config;
            config.user = kUser;
            config.password = sCurrentPassword = step.sDevicePassword;
            config.auth = auth;
            sim.addDevice(sDevice, config);
        }
        const QString sUuid = usePost ? post(url(sDevice, kReboot), {}, {}, {}, kUser, step.sRequestPassword)
                                      : get(url(sDevice, kInfo), kUser, step.sRequestPassword);
        QVERIFY(await(sUuid));
        QVERIFY2(hCompletions.value(sUuid).iError == step.iError,
                 qPrintable(QStringLiteral("%1 with %2").arg(step.sDevicePassword, step.sRequestPassword)));
    }
}

void TestTransport::multipartLayout_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("windowsPath");
    QTest::newRow("file only") << "" << false;
    QTest::newRow("data part first") << "{\"mode\":\"full\"}" << false;
    QTest::newRow("windows path") << "" << true;
}

// The parts as the device receives them; cookies are not sent with a multipart upload.
void TestTransport::multipartLayout()
{
    QFETCH(QString, body);
    QFETCH(bool, windowsPath);

    QByteArray baImage(300 * 1024, Qt::Uninitialized);
    for (int i = 0; i < baImage.size(); ++i)
        baImage[i] = char(i * 7);
    QString sUpload = tempFile("image.bin", baImage);
    if (windowsPath)
        sUpload.replace('/', '\\');

    const QString sUuid = post(url("open", kFirmware), sUpload, body, {{"session", "abc"}});
    QPointer<QHttpMultiPart> pMultiPart;
    for (const auto *pRequest : qAsConst(pHandler->hRequests))
        pMultiPart = pRequest->pReply->findChild<QHttpMultiPart *>();
    QVERIFY(pMultiPart);
    QVERIFY(await(sUuid));
    QCOMPARE(hCompletions.value(sUuid).iError, 0);
    QTRY_VERIFY(pMultiPart.isNull());

    const devicesim::RecordedRequest request = lastRequest("open");
    QVERIFY(request.contentType.startsWith("multipart/form-data; boundary="));
    QVERIFY(!request.headers.contains("cookie"));
    QCOMPARE(request.parts.size(), body.isEmpty() ? 1 : 2);
    if (!body.isEmpty()) {
        QCOMPARE(request.parts.first().name, QByteArray("data"));
        QCOMPARE(request.parts.first().sha256Hex, sha256Hex(body.toLatin1()));
    }
    const devicesim::RecordedPart filePart = request.parts.last();
    QCOMPARE(filePart.name, QByteArray("file"));
    QCOMPARE(filePart.filename, QByteArray("image.bin"));
    QCOMPARE(filePart.contentType, QByteArray("application/octet-stream"));
    QCOMPARE(filePart.size, qint64(baImage.size()));
    QCOMPARE(filePart.sha256Hex, sha256Hex(baImage));
}

void TestTransport::headers_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QVariantMap>("cookies");
    QTest::addColumn<QByteArray>("cookieHeader"); // expected cookies, any order; empty: no header

    QTest::newRow("GET") << "GET" << QVariantMap{} << QByteArray();
    QTest::newRow("GET, two cookies")
        << "GET" << QVariantMap{{"sid", "42"}, {"lang", "en"}} << QByteArray("lang=en; sid=42");
    QTest::newRow("PUT") << "PUT" << QVariantMap{} << QByteArray();
    QTest::newRow("PUT, cookie") << "PUT" << QVariantMap{{"sid", "42"}} << QByteArray("sid=42");
    QTest::newRow("POST, cookie") << "POST" << QVariantMap{{"sid", "42"}} << QByteArray("sid=42");
}

// GET carries Basic credentials, its user agent and Accept; PUT and POST carry only their body and
// cookies.
void TestTransport::headers()
{
    QFETCH(QString, method);
    QFETCH(QVariantMap, cookies);
    QFETCH(QByteArray, cookieHeader);

    QHash<QString, QString> hCookies;
    for (auto it = cookies.constBegin(); it != cookies.constEnd(); ++it)
        hCookies.insert(it.key(), it.value().toString());
    QString sUuid;
    if (method == "GET")
        sUuid = get(url("open", kInfo), "", "", {}, hCookies);
    else if (method == "PUT")
        sUuid = put(url("open", kInfo), QString::fromLatin1("{\"name\":\"caf\xe9\"}"), hCookies);
    else
        sUuid = post(url("open", kReboot), {}, "reboot=1", hCookies);
    QVERIFY(await(sUuid));

    const devicesim::RecordedRequest request = lastRequest("open");
    QCOMPARE(request.method, method.toLatin1());
    QStringList lCookies =
        QString::fromLatin1(request.headers.value("cookie")).split("; ", Qt::SkipEmptyParts);
    lCookies.sort();
    QCOMPARE(lCookies.join("; ").toLatin1(), cookieHeader);
    if (method == "GET") {
        QCOMPARE(request.headers.value("authorization"), QByteArray("Basic Og=="));
        QCOMPARE(request.headers.value("user-agent"), QByteArray("Client Application"));
        QCOMPARE(request.headers.value("accept"), QByteArray("*/*"));
        return;
    }
    QVERIFY(!request.headers.contains("authorization"));
    QVERIFY(request.headers.value("user-agent") != "Client Application");
    QVERIFY(request.headers.value("accept") != "*/*");
    QCOMPARE(request.body, method == "PUT" ? QByteArray("{\"name\":\"caf\xe9\"}") : QByteArray("reboot=1"));
}

// The short forms of GET and PUT are reachable through the meta-object, as a caller loading the plugin
// would reach them.
void TestTransport::invokableByName()
{
    const QString sGet = QUuid::createUuid().toString();
    const QString sPut = QUuid::createUuid().toString();
    const QString sUrl = url("open", kInfo);
    QVERIFY(QMetaObject::invokeMethod(pHandler.get(), "prRequestGetCommand", Q_ARG(QString, sGet),
                                      Q_ARG(QString, sUrl), Q_ARG(QString, kUser), Q_ARG(QString, kPassword),
                                      Q_ARG(QString, QString())));
    QVERIFY(QMetaObject::invokeMethod(pHandler.get(), "prRequestPutCommand", Q_ARG(QString, sPut),
                                      Q_ARG(QString, sUrl), Q_ARG(QString, kUser), Q_ARG(QString, kPassword),
                                      Q_ARG(QString, QString()), Q_ARG(QString, "{}")));
    QVERIFY(await(sGet));
    QVERIFY(await(sPut));
    QCOMPARE(hCompletions.value(sGet).iError, 0);
    QVERIFY(!hCompletions.value(sGet).baResult.isEmpty());
    QCOMPARE(sim.requests("open").size(), 2);
}

void TestTransport::emptyUrlRefused_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("line");
    QTest::newRow("GET") << "GET"
                         << "Got new get-request with empty url. (%1)";
    QTest::newRow("PUT") << "PUT"
                         << "Got new put-request with empty url. (%1)";
    QTest::newRow("POST") << "POST"
                          << "Got new post-request with empty url (%1)";
    QTest::newRow("multipart POST") << "MULTIPART"
                                    << "Got new post-request with empty url (%1)";
}

// Refused with one log line, sent nowhere and never answered.
void TestTransport::emptyUrlRefused()
{
    QFETCH(QString, method);
    QFETCH(QString, line);

    QString sUuid;
    if (method == "GET")
        sUuid = get(QString());
    else if (method == "PUT")
        sUuid = put(QString(), "{}");
    else
        sUuid = post(QString(), method == "MULTIPART" ? tempFile("fw.bin", "image") : QString());
    QCOMPARE(lLog, QStringList{line.arg(sUuid)});
    QTest::qWait(200);
    QVERIFY(hCompletions.isEmpty());
    QVERIFY(pHandler->hRequests.isEmpty());
    QVERIFY(sim.requests().isEmpty());
}

// A request without an identifier is sent, but nothing about it comes back.
void TestTransport::emptyIdentifierIsNotFollowed()
{
    const int iUploadsBefore = sim.firmware("open").uploads;
    bInsideRequest = true;
    pHandler->prRequestGetCommand(QString(), url("open", kExport), kUser, kPassword, tmp.filePath("unused"));
    pHandler->prRequestPostCommand(QString(), url("open", kFirmware), kUser, kPassword,
                                   tempFile("fw.bin", QByteArray(200000, 'f')), "file", {}, {});
    bInsideRequest = false;
    QTRY_COMPARE(sim.requests("open").size(), 2);
    QTRY_COMPARE(sim.firmware("open").uploads, iUploadsBefore + 1);
    QTest::qWait(300);
    QVERIFY(hCompletions.isEmpty());
    QVERIFY(lProgress.isEmpty());
    QVERIFY(!QFile::exists(tmp.filePath("unused")));
    QCOMPARE(lLog.size(), 4);
}

void TestTransport::progress_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("expectProgress");
    QTest::addColumn<bool>("expectUploadLines");
    QTest::newRow("download with length") << "length" << true << false;
    QTest::newRow("chunked download") << "chunked" << false << false;
    QTest::newRow("empty body") << "empty" << false << false;
    QTest::newRow("upload") << "upload" << true << true;
}

// Percentages stay within 0 to 100 and end at 100; without a known total there are none.
void TestTransport::progress()
{
    QFETCH(QString, kind);
    QFETCH(bool, expectProgress);
    QFETCH(bool, expectUploadLines);
    const int iFullBytes = 3 * 1024 * 1024;

    Fault fault;
    fault.chunked = kind == "chunked";
    fault.emptyBody = kind == "empty";
    fault.largeBodyBytes = kind == "length" ? iFullBytes : 0;
    QString sUuid;
    if (kind == "upload") {
        sUuid = post(url("open", kFirmware), tempFile("fw.bin", QByteArray(iFullBytes, 'u')));
    } else {
        sim.setFault("open", kExport, fault);
        sUuid = get(url("open", kExport));
    }
    QVERIFY(await(sUuid));
    QCOMPARE(hCompletions.value(sUuid).iError, 0);

    QList<int> lValues;
    for (const auto &progress : qAsConst(lProgress)) {
        QCOMPARE(progress.first, sUuid);
        lValues << progress.second;
    }
    QCOMPARE(!lValues.isEmpty(), expectProgress);
    for (int iValue : qAsConst(lValues))
        QVERIFY2(iValue >= 0 && iValue <= 100, qPrintable(QString::number(iValue)));
    if (expectProgress)
        QVERIFY(lValues.contains(100));
    QCOMPARE(logOf(sUuid).filter(QRegularExpression("^(Download|Upload) progress: ")).size(), lValues.size());
    QCOMPARE(!logOf(sUuid).filter(QRegularExpression("^Upload progress: ")).isEmpty(), expectUploadLines);
    // The line of the whole transfer shows its size as the system locale writes it.
    const QString sFull = QLocale::system().formattedDataSize(iFullBytes, 2, QLocale::DataSizeIecFormat);
    QCOMPARE(!logOf(sUuid).filter(" -> " + sFull + " / " + sFull + " (").isEmpty(), expectProgress);
}

void TestTransport::redirects_data()
{
    QTest::addColumn<int>("policy"); // of the manager; -1: as constructed
    QTest::addColumn<bool>("sameOrigin");
    QTest::addColumn<int>("error");

    QTest::newRow("as constructed, other origin") << -1 << false << 103;
    QTest::newRow("manual, other origin") << int(QNetworkRequest::ManualRedirectPolicy) << false << 103;
    QTest::newRow("no less safe, other origin")
        << int(QNetworkRequest::NoLessSafeRedirectPolicy) << false << 103;
    QTest::newRow("same origin, other origin")
        << int(QNetworkRequest::SameOriginRedirectPolicy) << false << 103;
    QTest::newRow("user verified, other origin")
        << int(QNetworkRequest::UserVerifiedRedirectPolicy) << false << 103;
    QTest::newRow("as constructed, same origin") << -1 << true << 103;
    QTest::newRow("no less safe, same origin")
        << int(QNetworkRequest::NoLessSafeRedirectPolicy) << true << 103;
    QTest::newRow("same origin, same origin") << int(QNetworkRequest::SameOriginRedirectPolicy) << true << 0;
    QTest::newRow("user verified, same origin")
        << int(QNetworkRequest::UserVerifiedRedirectPolicy) << true << 0;
}

// A redirect to another origin never takes the device's credentials along, whatever the manager's policy;
// within the origin, a manager that chose same-origin (or user-verified) redirects has them followed. A
// manager as constructed answers alike on Qt 5 and Qt 6.
void TestTransport::redirects()
{
    QFETCH(int, policy);
    QFETCH(bool, sameOrigin);
    QFETCH(int, error);

    if (policy >= 0)
        pManager->setRedirectPolicy(QNetworkRequest::RedirectPolicy(policy));
    QString sTarget = sameOrigin ? url("basic", kExport) : simOther.baseUrl("other") + kInfo;
    Fault redirect;
    redirect.redirectTo = QString(sTarget).replace("http://", "http://intruder:pw-secret-42@");
    sim.setFault("basic", kInfo, redirect);

    const QString sUuid = get(url("basic", kInfo));
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

    QTest::newRow("no pin, self-signed") << "" << false << 0;
    QTest::newRow("certificate, self-signed") << "certificate" << false << 0;
    QTest::newRow("public key, self-signed") << "key" << false << 0;
    QTest::newRow("other, self-signed") << "other" << false << 103;
    QTest::newRow("public key, trusted") << "key" << true << 0;
    QTest::newRow("other, trusted") << "other" << true << 103;
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

// Devices speak HTTP/1.1 only, and a device behind a server that also speaks HTTP/2 must not be spoken to
// in it: the TLS handshake never offers HTTP/2 (Qt 6 would, first).
void TestTransport::httpOneOverTls()
{
    const QString sUuid = get(simTls.baseUrl("open") + kInfo);
    QVERIFY(await(sUuid));
    QCOMPARE(hCompletions.value(sUuid).iError, 0);
    for (const QByteArray &baOffer : simTls.protocolOffers())
        QVERIFY2(!baOffer.split(',').contains("h2"), baOffer.constData());
}

// Destroying the handler while uploads and a download are under way answers nothing and leaves nothing: the
// multipart bodies go with their replies, the unfinished download file vanishes.
void TestTransport::destroyedWithTransfersInFlight()
{
    Fault hang;
    hang.hang = true;
    sim.setFault("open", kFirmware, hang);
    Fault large;
    large.largeBodyBytes = qint64(4) * 1024 * 1024 * 1024;
    sim.setFault("open", kExport, large);
    const QString sUpload = tempFile("fw.bin", QByteArray(2 * 1024 * 1024, 'u'));
    for (int i = 0; i < 4; ++i)
        post(url("open", kFirmware), sUpload);
    const QDir dir(tmp.filePath("in-flight"));
    QVERIFY(QDir().mkpath(dir.path()));
    const QString sDownload = get(url("open", kExport), kUser, kPassword, dir.filePath("settings.ndb"));

    QList<QPointer<QHttpMultiPart>> lBodies;
    for (const auto *pRequest : qAsConst(pHandler->hRequests)) {
        if (auto *pBody = pRequest->pReply->findChild<QHttpMultiPart *>())
            lBodies << pBody;
    }
    QCOMPARE(lBodies.size(), 4);
    QVERIFY(
        QTest::qWaitFor([&] { return !lProgress.isEmpty() && lProgress.last().first == sDownload; }, 10000));
    QVERIFY(hCompletions.isEmpty());
    pHandler.reset();
    QTRY_VERIFY(
        std::all_of(lBodies.cbegin(), lBodies.cend(), [](const auto &pBody) { return pBody.isNull(); }));
    QVERIFY(dir.entryList(QDir::Files | QDir::Hidden).isEmpty());
    QTest::qWait(100);
    QVERIFY(hCompletions.isEmpty());
}

// Thousands of requests at once, each answered exactly once (checked for every test in cleanup()).
void TestTransport::burstAnsweredOnce()
{
    QStringList lUuids;
    for (int i = 0; i < 3000; ++i)
        lUuids << get(url(i % 2 ? "open" : "basic", kInfo));
    QTRY_COMPARE_WITH_TIMEOUT(hCompletions.size(), lUuids.size(), 60000);
    for (const QString &sUuid : qAsConst(lUuids))
        QCOMPARE(hCompletions.value(sUuid).iError, 0);
}

// A device that demands Digest closed the connection on which a POST had answered its challenge (as after
// a reboot): the GET that follows on a new connection still gets through with its own credentials.
void TestTransport::challengeAfterReconnect()
{
    Fault cut;
    cut.dropMidBody = true;
    sim.setFault("digest", kFirmware, cut);
    for (const auto &step : QList<QPair<QString, int>>{{kReboot, 0}, {kFirmware, 103}, {kInfo, 0}}) {
        const QString sUuid =
            step.first == kInfo ? get(url("digest", kInfo)) : post(url("digest", step.first));
        QVERIFY(await(sUuid));
        QCOMPARE(hCompletions.value(sUuid).iError, step.second);
    }
}

QTEST_GUILESS_MAIN(TestTransport)
#include "tst_transport.moc"
