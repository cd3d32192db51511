// The built kestrolctl, run as a process against simulated devices served from this test process.
#include "devicesim.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int iProcessWaitMs = 90 * 1000;
const QString sStart = QStringLiteral("2024-03-05 08:00:00");
const QString sEnd = QStringLiteral("2024-03-05 11:00:00");

struct Run
{
    int iExit = -1; // -1: crashed or still running at the limit
    QByteArray baOut;
    QByteArray baErr;
};

// One object per line, as --json prints them.
QList<QJsonObject> jsonLines(const QByteArray &baOut)
{
    QList<QJsonObject> lObjects;
    for (const QByteArray &baLine : baOut.split('\n')) {
        if (!baLine.isEmpty())
            lObjects.append(QJsonDocument::fromJson(baLine).object());
    }
    return lObjects;
}

} // namespace

// Checks the exit status of a run, evaluated once; on a mismatch the message carries what the run printed.
#define VERIFY_EXIT(runExpression, code)                                                                     \
    do {                                                                                                     \
        const Run ended = (runExpression);                                                                   \
        QVERIFY2(ended.iExit == (code),                                                                      \
                 qPrintable(QStringLiteral("exit %1\nstdout: %2\nstderr: %3")                                \
                                .arg(ended.iExit)                                                            \
                                .arg(QString::fromUtf8(ended.baOut), QString::fromUtf8(ended.baErr))));      \
    } while (false)

class TstKestrolctl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void oneDevice_data();
    void oneDevice();
    void parallelBound();
    void fleetOutcomes_data();
    void fleetOutcomes();
    void counterTable_data();
    void counterTable();
    void knownDevices();
    void pins_data();
    void pins();
    void console_data();
    void console();
    void fleetFilesAndReport();
    void integrationExample();
    void installedToolFindsInstalledPlugin();
    void demo();

private:
    Run run(const QStringList &lArgs, const QProcessEnvironment &env, const QByteArray &baStdin = {},
            const QString &sFileLimit = "unlimited");
    Run run(const QStringList &lArgs) { return run(lArgs, environment); }
    QString url(const QString &sId) const { return hUrls.value(sId, tls.baseUrl(sId)); }
    // One device by URL, then lArgs; the password comes from the environment.
    QStringList one(const QString &sId, const QStringList &lArgs) const
    {
        return QStringList{"--url", url(sId), "--user", "admin"} + lArgs;
    }
    // A device file of these devices with password secret, the user and pin given; a comment, a blank line,
    // quoted and padded fields show that the file format is read as documented.
    QString fleet(const QStringList &lIds, const QString &sPin = {}, const QString &sUser = "admin");

    devicesim::Simulator tls{devicesim::Simulator::Options{true, 0, 16}};
    devicesim::Simulator plain{devicesim::Simulator::Options{false, 0, 4}};
    QTemporaryDir tempDir;
    QProcessEnvironment environment;
    QHash<QString, QString> hUrls; // devices that are not on the HTTPS simulator
    QString sTlsFingerprint;
};

void TstKestrolctl::initTestCase()
{
    QVERIFY(tempDir.isValid() && tls.start() && plain.start());
    auto add = [this](const QString &sId, const QString &sNextVersion, const devicesim::Fault &fault = {}) {
        devicesim::DeviceConfig config;
        config.auth = devicesim::AuthMode::Digest;
        config.password = sId == "locked" ? "other" : "secret";
        config.counters = {{"in", {3, 1, 4}}, {"out", {1, 5}}};
        config.swverAfterUpdate = sNextVersion;
        config.updateRebootMs = 600;
        tls.addDevice(sId, config);
        tls.setFault(sId, "/api/system/info/", fault);
    };
    for (const QString &sId :
         QStringList{"cam-1", "cam-2", "cam-3", "locked", "flaky", "fw-same", "fw-c1", "fw-c2", "fw-c3"})
        add(sId, {});
    for (const QString &sId : QStringList{"fw-d1", "fw-d2"})
        add(sId, "4.0.0");
    devicesim::Fault hang, missing, moved, drop;
    hang.hang = true;
    missing.status = 404;
    moved.redirectTo = "http://127.0.0.1:1/elsewhere";
    add("silent", {}, hang);
    add("missing", {}, missing);
    drop.dropMidBody = true;
    add("drops", {}, drop);
    add("moved", {}, moved);

    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    hUrls.insert("unreachable", QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort()));
    closed.close();
    plain.addDevice("1");
    hUrls.insert("tls-on-plain", plain.baseUrl("1").replace("http:", "https:"));

    QSslSocket socket;
    socket.setPeerVerifyMode(QSslSocket::QueryPeer);
    socket.connectToHostEncrypted("127.0.0.1", tls.port());
    QVERIFY(socket.waitForEncrypted(10000));
    sTlsFingerprint = "sha256:" + socket.peerCertificate().digest(QCryptographicHash::Sha256).toHex();

    environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KESTROL_PASSWORD", "secret");
}

Run TstKestrolctl::run(const QStringList &lArgs, const QProcessEnvironment &env, const QByteArray &baStdin,
                       const QString &sFileLimit)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(tempDir.path());
    // Beyond the file size limit a write fails as on a full disk (the signal that would end the process is
    // ignored).
    const QString sScript = QStringLiteral("trap '' XFSZ; ulimit -f \"$0\"; exec \"$@\"");
    process.start("/bin/sh", QStringList{"-c", sScript, sFileLimit, QStringLiteral(KESTROLCTL_PATH)} + lArgs);
    process.write(baStdin);
    process.closeWriteChannel();
    Run result;
    if (process.waitForFinished(iProcessWaitMs) && process.exitStatus() == QProcess::NormalExit)
        result.iExit = process.exitCode();
    process.kill();
    process.waitForFinished(5000);
    result.baOut = process.readAllStandardOutput();
    result.baErr = process.readAllStandardError();
    return result;
}

QString TstKestrolctl::fleet(const QStringList &lIds, const QString &sPin, const QString &sUser)
{
    const QString sPath = tempDir.filePath(lIds.join('+') + sPin + sUser + ".csv");
    QByteArray baCsv = "# id,url,user,password,pin\n\n";
    for (const QString &sId : lIds)
        baCsv += QStringLiteral("\"%1\" , %2 ,%3,secret,%4\n").arg(sId, url(sId), sUser, sPin).toUtf8();
    return writeFile(sPath, baCsv) ? sPath : QString();
}

void TstKestrolctl::oneDevice_data()
{
    QTest::addColumn<QStringList>("lArgs");
    QTest::addColumn<int>("iExit");
    QTest::addColumn<QVariantMap>("mapAnswer"); // what the JSON answer holds; empty: no answer, nothing sent
    QTest::addColumn<QString>("sStderr");       // a pattern
    QTest::addColumn<QByteArray>("baStdin");
    QTest::addColumn<QString>("sFileLimit");
    auto row = [](const char *pcName, const QStringList &lArgs, int iExit, const QVariantMap &mapAnswer,
                  const QString &sStderr, const QByteArray &baStdin = {},
                  const QString &sLimit = "unlimited") {
        QTest::newRow(pcName) << lArgs << iExit << mapAnswer << sStderr << baStdin << sLimit;
    };
    auto ok = [](const QString &sSummary) { return QVariantMap{{"status", "ok"}, {"summary", sSummary}}; };
    auto failed = [](const QString &sReason) { return QVariantMap{{"reason", sReason}}; };
    auto why = [](const QString &sReason) {
        return "^kestrolctl: \\S+: " + QRegularExpression::escape(sReason) + "\n$";
    };
    auto usage = [](const QString &sText) {
        return "^kestrolctl: .*" + QRegularExpression::escape(sText) + ".*\n$";
    };
    const QString sPassword = tempDir.filePath("password"), sOpenPassword = tempDir.filePath("open-password");
    const QString sEmpty = tempDir.filePath("empty.bin"), sSnapshot = tempDir.filePath("limited.jpg");
    const QString sTwins = tempDir.filePath("twins.csv"), sBadList = tempDir.filePath("bad.csv");
    QVERIFY(writeFile(sPassword, "other\r\nnot this line\n") && writeFile(sOpenPassword, "other\n") &&
            writeFile(sEmpty, {}) && writeFile(sBadList, "a,192.0.2.1\n") &&
            writeFile(sTwins, QStringLiteral("cam 1,%1,admin\ncam_1,%1,admin\n").arg(url("cam-1")).toUtf8()));
    QVERIFY(QFile::setPermissions(sPassword, QFile::ReadOwner) &&
            QFile::setPermissions(sOpenPassword, QFile::ReadOwner | QFile::ReadOther));
    const QString sRedirect = "redirect to http://127.0.0.1:1/elsewhere not followed";
    const QString sFull = "cannot write " + sSnapshot + ": File too large";
    const QString sBackup = tempDir.filePath("limited.ndb");
    const QString sBackupFull = "cannot write " + sBackup + ": File too large";
    const QStringList lCounter{"counter", "in", "60", sStart, sEnd};

    row("info, URL with a trailing slash", {"--url", url("cam-1") + "/", "--user", "admin", "info"}, 0,
        ok("firmware: 3.2.1; mac: 00:1A:2B:3C:4D:5E"), "^$");
    row("counters", one("cam-1", {"counters"}), 0, ok("counters: in, out"), "^$");
    row("counter by its plugin name", one("cam-1", {"API_CMD_AICOUNTER_GET", "out", "3600", sStart, sEnd}), 0,
        ok("out: 1, 5"), "^$");
    // The environment's password is wrong for this device: the password must come from elsewhere.
    row("password file", one("locked", {"--password-file", sPassword, "login-check"}), 0,
        ok("login: credentials accepted"), "^$");
    row("password on standard input", one("locked", {"--password-stdin", "login-check"}), 0,
        ok("login: credentials accepted"), "^$", "other\n");
    row("password on the command line", one("locked", {"--password", "other", "login-check"}), 0,
        ok("login: credentials accepted"),
        "^kestrolctl: warning: --password shows in the process list; .*\n$");

    row("refused", one("unreachable", {"info"}), 1, failed("connection refused"), why("connection refused"));
    row("TLS", one("tls-on-plain", {"info"}), 1, failed("TLS handshake failed"), why("TLS handshake failed"));
    row("HTTP status", one("missing", {"info"}), 1, failed("HTTP 404 Not Found"), why("HTTP 404 Not Found"));
    row("closed", one("drops", {"info"}), 1, failed("connection closed by the device"),
        why("connection closed by the device"));
    row("time-out", one("silent", {"info"}), 1, failed("timed out after 1 s"), why("timed out after 1 s"));
    row("redirect", one("moved", {"info"}), 1, failed(sRedirect), why(sRedirect));
    row("disk full", one("cam-1", {"snapshot", "1", "-o", sSnapshot}), 1, failed(sFull), why(sFull), {}, "2");
    // Written by the plugin, as it arrives: a write refused at any point fails the backup and leaves no file.
    row("disk full, backup", one("cam-1", {"settings-save", sBackup}), 1, failed(sBackupFull),
        why(sBackupFull), {}, "2");
    row("credentials", one("locked", {"info"}), 3, failed("credentials refused"), why("credentials refused"));
    row("no answer", one("silent", {"--timeout", "0.5", "info"}), 4, failed("no answer within 0.5 s"),
        why("no answer within 0.5 s"));

    row("two devices, one file", {"--devices", sTwins, "snapshot", "1", "-o", tempDir.path()}, 2, {},
        usage("would both write"));
    row("empty image", one("cam-1", {"firmware-update", sEmpty}), 2, {}, usage("is empty"));
    row("empty settings", one("cam-1", {"settings-load", sEmpty}), 2, {}, usage("is empty"));
    row("unreadable settings", one("cam-1", {"settings-load", tempDir.path()}), 2, {}, usage("cannot read"));
    row("no user", {"--url", url("cam-1"), "info"}, 2, {}, usage("has no user"));
    row("password file others can read", one("cam-1", {"--password-file", sOpenPassword, "info"}), 2, {},
        usage("are too open"));
    row("two password sources", one("cam-1", {"--password", "x", "--password-stdin", "info"}), 2, {},
        usage("give one of"));
    row("pin over http", one("unreachable", {"--pin", QString(64, 'a'), "info"}), 2, {},
        usage("needs an https"));
    row("malformed pin", one("cam-1", {"--pin", "sha256:abc", "info"}), 2, {}, usage("64 hex digits"));
    row("verify without update", one("cam-1", {"--verify", "info"}), 2, {}, usage("firmware-update only"));
    row("parallel 0", one("cam-1", {"--parallel", "0", "info"}), 2, {}, usage("--parallel '0'"));
    row("report type", one("cam-1", {"--report", "r.txt", "info"}), 2, {}, usage(".csv or .json"));
    row("counter table type", one("cam-1", lCounter + QStringList{"-o", "c.txt"}), 2, {},
        usage(".csv or .jsonl"));
    row("unknown command", one("cam-1", {"frobnicate"}), 2, {}, usage("unknown command"));
    row("device file line", {"--devices", sBadList, "info"}, 2, {}, usage("bad.csv:1:"));
    row("missing plugin", one("cam-1", {"--plugin", "/none/libx.so", "info"}), 5, {},
        usage("no plugin module"));
}

void TstKestrolctl::oneDevice()
{
    QFETCH(QStringList, lArgs);
    QFETCH(int, iExit);
    QFETCH(QVariantMap, mapAnswer);
    QFETCH(QString, sStderr);
    QFETCH(QByteArray, baStdin);
    QFETCH(QString, sFileLimit);
    QProcessEnvironment env = environment;
    env.insert("KESTROL_TRANSFER_TIMEOUT_MS", "1000");
    tls.clearRequests();
    const Run result = run(lArgs << "--json", env, baStdin, sFileLimit);
    VERIFY_EXIT(result, iExit);
    const QList<QJsonObject> lAnswers = jsonLines(result.baOut);
    QCOMPARE(lAnswers.size(), mapAnswer.isEmpty() ? 0 : 1);
    for (auto it = mapAnswer.constBegin(); it != mapAnswer.constEnd(); ++it)
        QCOMPARE(lAnswers.first().toVariantMap().value(it.key()), it.value());
    QVERIFY2(QRegularExpression(sStderr).match(QString::fromUtf8(result.baErr)).hasMatch(),
             result.baErr.constData());
    QVERIFY(!mapAnswer.isEmpty() || tls.requests().isEmpty());
    for (const devicesim::RecordedRequest &record : tls.requests())
        QVERIFY2(!record.target.contains("//"), record.target.constData());
    QVERIFY(!QFileInfo::exists(tempDir.filePath("limited.jpg")));
    QVERIFY(!QFileInfo::exists(tempDir.filePath("limited.ndb")));
}

void TstKestrolctl::parallelBound()
{
    // A simulator of their own, so that requests other tests left hanging do not count.
    devicesim::Simulator simulator;
    QVERIFY(simulator.start());
    devicesim::Fault slow;
    slow.delayMs = 300;
    const QStringList lIds{"p1", "p2", "p3", "p4", "p5", "p6"};
    for (const QString &sId : lIds) {
        hUrls.insert(sId, simulator.addDevice(sId));
        simulator.setFault(sId, "/api/system/info/", slow);
    }
    const Run result = run({"--devices", fleet(lIds), "--parallel", "2", "--json", "info"});
    VERIFY_EXIT(result, 0);
    QCOMPARE(jsonLines(result.baOut).size(), 6);
    // Every answer takes 300 ms, so the devices allowed in flight together all overlap at the simulator.
    int iMostInFlight = 0;
    for (const devicesim::RecordedRequest &record : simulator.requests())
        iMostInFlight = qMax(iMostInFlight, record.inFlight);
    QCOMPARE(iMostInFlight, 2);
}

void TstKestrolctl::fleetOutcomes_data()
{
    QTest::addColumn<QStringList>("lArgs");
    QTest::addColumn<int>("iExit");
    QTest::addColumn<QStringList>(
        "lDevices"); // in the order of the file: id, status, retries, firmware uploads
    auto row = [](const char *pcName, const QStringList &lArgs, int iExit, const QStringList &lDevices) {
        QTest::newRow(pcName) << lArgs << iExit << lDevices;
    };
    const QString sImage = tempDir.filePath("small-fw.bin");
    QVERIFY(writeFile(sImage, "image"));
    const QStringList lUpdate{"--reboot-timeout", "20", "firmware-update", sImage};
    const QStringList lVerify = QStringList{"--verify"} + lUpdate;
    const QStringList lCanary = QStringList{"--canary", "1", "--parallel", "3"} + lUpdate; // implies --verify
    const QStringList lRetry{"--retries", "1", "login-check"};
    row("old version", lVerify, 1, {"fw-same failed 0 1"});
    row("failed canary", lCanary, 1, {"fw-c1 failed 0 1", "fw-c2 skipped 0 0", "fw-d1 skipped 0 0"});
    row("passed canary", lCanary, 1, {"fw-d2 ok 0 1", "fw-c3 failed 0 1"});
    row("flaky device", lRetry, 0, {"flaky ok 1 0"});
    row("refused, no retry", lRetry, 3, {"locked refused 0 0"});
    row("HTTP 404, no retry", lRetry, 1, {"missing failed 0 0"});
    row("closed, retried", lRetry, 1, {"drops failed 1 0"});
    row("unreachable before refused", {"login-check"}, 3, {"unreachable failed 0 0", "locked refused 0 0"});
    row("refused before HTTP 404", {"login-check"}, 3, {"locked refused 0 0", "missing failed 0 0"});
}

// One device in flight at a time unless a row says otherwise, so that the devices run in the order of the
// file.
void TstKestrolctl::fleetOutcomes()
{
    QFETCH(QStringList, lArgs);
    QFETCH(int, iExit);
    QFETCH(QStringList, lDevices);
    tls.setUnavailable("flaky", 1); // the first attempt gets 503, the second succeeds
    QStringList lIds;
    for (const QString &sDevice : lDevices)
        lIds.append(sDevice.section(' ', 0, 0));
    const QString sReport = tempDir.filePath("report.json");
    VERIFY_EXIT(run(QStringList{"--devices", fleet(lIds), "--parallel", "1", "--report", sReport} + lArgs),
                iExit);
    QStringList lSeen;
    for (const QJsonValue &value : QJsonDocument::fromJson(readFile(sReport)).array()) {
        const QJsonObject entry = value.toObject();
        const QString sId = entry.value("device").toString();
        lSeen.append(QStringLiteral("%1 %2 %3 %4")
                         .arg(sId, entry.value("status").toString())
                         .arg(entry.value("retries").toInt())
                         .arg(tls.firmware(sId).uploads));
    }
    QCOMPARE(lSeen, lDevices);
}

void TstKestrolctl::counterTable_data()
{
    QTest::addColumn<QStringList>("lArgs");
    QTest::addColumn<QString>("sTable");
    QTest::addColumn<QByteArray>("baTable");
    const QByteArray baDevice = "127.0.0.1:" + QByteArray::number(tls.port()) + "/dev/cam-1";
    QTest::newRow("one counter, CSV")
        << QStringList{"--devices", fleet({"cam-1", "cam-2"}), "counter", "in", "3600", sStart, sEnd}
        << "t.csv"
        << QByteArray("device,counter,start,end,value\n"
                      "cam-1,in,2024-03-05 08:00:00,2024-03-05 09:00:00,3\n"
                      "cam-1,in,2024-03-05 09:00:00,2024-03-05 10:00:00,1\n"
                      "cam-1,in,2024-03-05 10:00:00,2024-03-05 11:00:00,4\n"
                      "cam-2,in,2024-03-05 08:00:00,2024-03-05 09:00:00,3\n"
                      "cam-2,in,2024-03-05 09:00:00,2024-03-05 10:00:00,1\n"
                      "cam-2,in,2024-03-05 10:00:00,2024-03-05 11:00:00,4\n");
    QTest::newRow("every counter, JSON lines")
        << one("cam-1", {"counter", "--all", "1800", sStart, sEnd}) << "t.jsonl"
        << QByteArray(
               R"({"counter":"in","device":"D","end":"2024-03-05 08:30:00","start":"2024-03-05 08:00:00","value":3}
{"counter":"in","device":"D","end":"2024-03-05 09:00:00","start":"2024-03-05 08:30:00","value":1}
{"counter":"in","device":"D","end":"2024-03-05 09:30:00","start":"2024-03-05 09:00:00","value":4}
{"counter":"out","device":"D","end":"2024-03-05 08:30:00","start":"2024-03-05 08:00:00","value":1}
{"counter":"out","device":"D","end":"2024-03-05 09:00:00","start":"2024-03-05 08:30:00","value":5}
)")
               .replace("\"D\"", '"' + baDevice + '"');
}

void TstKestrolctl::counterTable()
{
    QFETCH(QStringList, lArgs);
    QFETCH(QString, sTable);
    QFETCH(QByteArray, baTable);
    VERIFY_EXIT(run(lArgs << "-o" << sTable), 0);
    QCOMPARE(readFile(tempDir.filePath(sTable)), baTable);
}

void TstKestrolctl::knownDevices()
{
    const QString sKnown = tempDir.filePath("known-devices");
    const QStringList lArgs{"--devices", fleet({"cam-1", "cam-2"}), "--known-devices", sKnown, "info"};
    const QByteArray baEndpoint = "127.0.0.1:" + QByteArray::number(tls.port());
    const Run first = run(lArgs);
    VERIFY_EXIT(first, 0);
    QVERIFY2(first.baErr.contains("recorded the certificate of " + baEndpoint), first.baErr.constData());
    const QByteArray baKnown = readFile(sKnown);
    // A comment, then one line for the endpoint that both devices share.
    QVERIFY2(baKnown.startsWith('#') && baKnown.count('\n') == 2 &&
                 baKnown.endsWith('\n' + baEndpoint + ' ' + sTlsFingerprint.toLatin1() + '\n'),
             baKnown.constData());
    VERIFY_EXIT(run(lArgs), 0);
    QCOMPARE(readFile(sKnown), baKnown);

    QVERIFY(writeFile(sKnown, baEndpoint + " sha256:" + QByteArray(64, '0') + '\n'));
    tls.clearRequests();
    const Run changed = run(lArgs);
    VERIFY_EXIT(changed, 6);
    QVERIFY2(changed.baErr.contains("certificate of " + baEndpoint + " changed"), changed.baErr.constData());
    QVERIFY(tls.requests().isEmpty());
}

void TstKestrolctl::pins_data()
{
    QTest::addColumn<QStringList>("lArgs");
    QTest::addColumn<int>("iExit");
    const QString sHex = sTlsFingerprint.mid(7);
    QString sColons = sHex;
    for (int i = sColons.size() - 2; i > 0; i -= 2)
        sColons.insert(i, ':');
    const QString sOther = "sha256:" + QString(64, 'f');
    auto inFile = [this](const QString &sPin) {
        return QStringList{"--devices", fleet({"cam-2"}, sPin), "info"};
    };
    QTest::newRow("upper case") << one("cam-1", {"--pin", sHex.toUpper(), "info"}) << 0;
    QTest::newRow("colons and prefix") << one("cam-1", {"--pin", "sha256:" + sColons, "info"}) << 0;
    QTest::newRow("another certificate") << one("cam-1", {"--pin", sOther, "info"}) << 6;
    QTest::newRow("fleet file, right pin") << inFile(sTlsFingerprint) << 0;
    QTest::newRow("fleet file, another certificate") << inFile(sOther) << 6;
}

// With a pin the plugin holds the device to its certificate, and a stranger never sees the password.
void TstKestrolctl::pins()
{
    QFETCH(QStringList, lArgs);
    QFETCH(int, iExit);
    tls.clearRequests();
    const Run result = run(lArgs << "--json");
    VERIFY_EXIT(result, iExit);
    QCOMPARE(jsonLines(result.baOut).value(0).value("reason").toString(),
             iExit == 0 ? QString() : QString("certificate does not match the pin"));
    int iAuthorized = 0;
    for (const devicesim::RecordedRequest &record : tls.requests())
        iAuthorized += record.headers.contains("authorization");
    QCOMPARE(iAuthorized > 0, iExit == 0);
}

void TstKestrolctl::console_data()
{
    QTest::addColumn<QStringList>("lOptions");
    QTest::addColumn<QString>("sOut"); // patterns
    QTest::addColumn<QString>("sErr");
    const QString sFailure = "unreachable +failed +\\S+ s  connection refused\n";
    QTest::newRow("results out; failures, summary err")
        << QStringList{} << "^cam-1 +ok +\\S+ s  firmware: 3\\.2\\.1; mac: 00:1A:2B:3C:4D:5E\n$"
        << "^" + sFailure + "2 devices in \\S+ s: 1 succeeded, 1 failed\n$";
    QTest::newRow("-q: failures only, with retries")
        << QStringList{"-q", "--retries", "1"} << "^$"
        << "^unreachable +failed +\\S+ s  connection refused \\(1 retry\\)\n$";
    QTest::newRow("-v: the plugin's lines by device") << QStringList{"-v"} << "^cam-1 "
                                                      << "\\n\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[cam-1\\] \\S";
}

// Results go to standard output; failures, warnings, the summary and the plugin's lines to standard error.
void TstKestrolctl::console()
{
    QFETCH(QStringList, lOptions);
    QFETCH(QString, sOut);
    QFETCH(QString, sErr);
    // Without a user in the file, the devices take --user.
    const Run result = run(QStringList{"--devices", fleet({"cam-1", "unreachable"}, {}, {}), "--user",
                                       "admin", "--parallel", "1"} +
                           lOptions + QStringList{"info"});
    VERIFY_EXIT(result, 1);
    QVERIFY2(QRegularExpression(sOut).match(QString::fromUtf8(result.baOut)).hasMatch(),
             result.baOut.constData());
    QVERIFY2(QRegularExpression(sErr).match(QString::fromUtf8(result.baErr)).hasMatch(),
             result.baErr.constData());
    QVERIFY(!result.baErr.contains("secret"));
}

// Default file names carry the device, a failed device leaves no file, and the CSV report has a row each.
void TstKestrolctl::fleetFilesAndReport()
{
    const QString sOut = tempDir.filePath("snapshots");
    const QString sReport = tempDir.filePath("report.csv");
    QVERIFY(QDir().mkpath(sOut));
    VERIFY_EXIT(run({"--devices", fleet({"cam-1", "unreachable"}), "--parallel", "1", "--report", sReport,
                     "snapshot", "2", "-o", sOut}),
                1);
    QCOMPARE(filesUnder(sOut), QStringList{"cam-1-ch2.jpg"});
    QCOMPARE(readFile(sOut + "/cam-1-ch2.jpg"), tls.snapshotJpeg(2));
    const QString sCsv =
        QString::fromUtf8(readFile(sReport)).replace(QRegularExpression(",\\d+\\.\\d{3},"), ",S,");
    const QString sFile = sOut + "/cam-1-ch2.jpg";
    const QString sSize = QString::number(tls.snapshotJpeg(2).size() / 1024.0, 'f', 1);
    QCOMPARE(sCsv, QStringLiteral("device,command,status,code,reason,seconds,retries,summary,files\n"
                                  "cam-1,API_CMD_SNAPSHOT,ok,0,,S,0,file: %1; size: %2 KiB,%1\n"
                                  "unreachable,API_CMD_SNAPSHOT,failed,103,connection refused,S,0,,\n")
                       .arg(sFile, sSize));
}

// The example of docs/host-integration.md is quoted there whole; it was built through find_package against
// the installed package, and runs with the installed module.
void TstKestrolctl::integrationExample()
{
    const QString sDoc =
        QString::fromUtf8(readFile(QStringLiteral(KESTROL_SOURCE_DIR "/docs/host-integration.md")));
    for (const auto &quote :
         {std::make_pair("```cpp\n", "minimal_host.cpp"), {"```cmake\n", "CMakeLists.txt"}}) {
        const int iStart = sDoc.indexOf(quote.first) + int(qstrlen(quote.first));
        QCOMPARE(
            sDoc.mid(iStart, sDoc.indexOf("```\n", iStart) - iStart),
            QString::fromUtf8(readFile(QStringLiteral(KESTROL_SOURCE_DIR "/docs/examples/") + quote.second)));
    }
    QProcess process;
    process.start(QStringLiteral(MINIMAL_HOST_PATH),
                  {QStringLiteral(KESTROL_INSTALLED_MODULE), tls.baseUrl("cam-2"), "admin", "secret"});
    QVERIFY(process.waitForFinished(iProcessWaitMs));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(process.readAllStandardOutput().contains("code 0, firmware 3.2.1, MAC 00:1A:2B:3C:4D:5E"));
}

void TstKestrolctl::installedToolFindsInstalledPlugin()
{
    const QString sPrefix = QStringLiteral(KESTROL_TEST_PREFIX);
    QVERIFY(QFileInfo(sPrefix + "/bin/kestrol-devicesim" KESTROL_TOOL_SUFFIX).isExecutable());
    QVERIFY(QFileInfo(QStringLiteral(KESTROL_INSTALLED_MODULE))
                .absolutePath()
                .endsWith(QStringLiteral("/qt%1/plugins/deviceapi").arg(QT_VERSION_MAJOR)));

    QProcess pkgConfig;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PKG_CONFIG_PATH", sPrefix + "/share/pkgconfig");
    pkgConfig.setProcessEnvironment(env);
    pkgConfig.start("pkg-config", {"--cflags", "kestrol-deviceapi"});
    QVERIFY(pkgConfig.waitForFinished(iProcessWaitMs));
    const QString sCflags = QString::fromUtf8(pkgConfig.readAllStandardOutput()).trimmed();
    QVERIFY2(sCflags.startsWith("-I") && QFileInfo(sCflags.mid(2) + "/deviceapiinterface.h").isFile(),
             qPrintable(sCflags));

    QProcess tool;
    tool.start(sPrefix + "/bin/kestrolctl" KESTROL_TOOL_SUFFIX, {"plugin-info", "--json"});
    QVERIFY(tool.waitForFinished(iProcessWaitMs));
    QCOMPARE(tool.exitCode(), 0);
    const QJsonObject info = QJsonDocument::fromJson(tool.readAllStandardOutput()).object();
    QCOMPARE(info.value("module").toString(),
             QFileInfo(QStringLiteral(KESTROL_INSTALLED_MODULE)).canonicalFilePath());
    QCOMPARE(info.value("commands").toArray().size(), 10);
}

void TstKestrolctl::demo()
{
    const QString sOut = tempDir.filePath("demo");
    const Run result = run({"demo", "--devices", "2", "-o", sOut});
    VERIFY_EXIT(result, 0);
    QVERIFY2(result.baOut.contains("[10/10] reset") &&
                 result.baOut.contains("10 of 10 commands succeeded on 2 devices"),
             result.baOut.constData());
    QCOMPARE(QDir(sOut).entryList({"demo-*-ch1.jpg"}, QDir::Files).size(), 2);
    QCOMPARE(QDir(sOut).entryList({"demo-*_db.ndb"}, QDir::Files).size(), 2);
    QVERIFY(QDir(sOut).entryList({"firmware-*"}, QDir::Files).isEmpty());
    // Output goes to pipes here, so the upload draws no progress bar.
    QVERIFY(!result.baErr.contains('\r'));
}

QTEST_GUILESS_MAIN(TstKestrolctl)
#include "tst_kestrolctl.moc"
