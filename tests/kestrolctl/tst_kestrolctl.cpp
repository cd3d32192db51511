// The built kestrolctl, run as a process against simulated devices served from this test process.
#include "devicesim.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int iProcessWaitMs = 90 * 1000;

struct Run
{
    bool bFinished = false;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int iExit = -1;
    QByteArray baOut;
    QByteArray baErr;
};

QList<QJsonObject> jsonLines(const QByteArray &baOut)
{
    QList<QJsonObject> lObjects;
    for (const QByteArray &baLine : baOut.split('\n')) {
        if (!baLine.trimmed().isEmpty())
            lObjects.append(QJsonDocument::fromJson(baLine).object());
    }
    return lObjects;
}

QByteArray fileBytes(const QString &sPath)
{
    QFile file(sPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &sPath, const QByteArray &baContent)
{
    QFile file(sPath);
    return file.open(QIODevice::WriteOnly) && file.write(baContent) == baContent.size();
}

} // namespace

class TstKestrolctl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void infoJson();
    void countersJson();
    void snapshotWritesDeviceImage();
    void settingsBackupAndRestore();
    void firmwareUpdateWithoutTerminal();
    void passwordFromEnvironmentStaysOutOfLog();
    void deviceFile();
    void deviceFileBackupNamesFilesPerDevice();
    void failures_data();
    void failures();
    void badInput_data();
    void badInput();
    void integrationExample();
    void docsQuoteTheExample_data();
    void docsQuoteTheExample();
    void installedToolFindsInstalledPlugin();
    void demo();

private:
    Run run(const QStringList &lArgs, const QProcessEnvironment &env);
    Run run(const QStringList &lArgs) { return run(lArgs, environment); }
    QStringList deviceArgs(const QString &sId) const;

    devicesim::Simulator simulator{devicesim::Simulator::Options{true, 0, 16}};
    QTemporaryDir tempDir;
    QProcessEnvironment environment;
    const QList<QPair<QString, QList<int>>> lCounters{{"in", {3, 1, 4}}, {"out", {1, 5}}};
};

void TstKestrolctl::initTestCase()
{
    QVERIFY(tempDir.isValid());
    QVERIFY(simulator.start());
    for (const QString &sId : QStringList{"cam-1", "cam-2", "cam-3", "locked", "silent"}) {
        devicesim::DeviceConfig config;
        config.auth = devicesim::AuthMode::Digest;
        config.password = "pw-" + sId;
        config.counters = lCounters;
        simulator.addDevice(sId, config);
    }
    devicesim::Fault hang;
    hang.hang = true;
    simulator.setFault("silent", "/api/system/info/", hang);

    environment = QProcessEnvironment::systemEnvironment();
    environment.remove("KESTROL_PASSWORD");
    environment.insert("KESTROL_TRANSFER_TIMEOUT_MS", "20000");
}

void TstKestrolctl::cleanupTestCase()
{
    simulator.stop();
}

Run TstKestrolctl::run(const QStringList &lArgs, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(tempDir.path());
    process.start(QStringLiteral(KESTROLCTL_PATH), lArgs);
    Run result;
    result.bFinished = process.waitForFinished(iProcessWaitMs);
    if (!result.bFinished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitStatus = process.exitStatus();
    result.iExit = process.exitCode();
    result.baOut = process.readAllStandardOutput();
    result.baErr = process.readAllStandardError();
    return result;
}

QStringList TstKestrolctl::deviceArgs(const QString &sId) const
{
    return {"--url", simulator.baseUrl(sId), "--user", "admin", "--password", "pw-" + sId};
}

// Checks how a run ended; on a mismatch the message carries everything the run printed.
#define VERIFY_EXIT(run, code)                                                                               \
    QVERIFY2((run).bFinished && (run).exitStatus == QProcess::NormalExit && (run).iExit == (code),           \
             qPrintable(QStringLiteral("finished %1, exit %2\nstdout: %3\nstderr: %4")                       \
                            .arg((run).bFinished)                                                            \
                            .arg((run).iExit)                                                                \
                            .arg(QString::fromUtf8((run).baOut), QString::fromUtf8((run).baErr))))

void TstKestrolctl::infoJson()
{
    const Run result = run(deviceArgs("cam-1") << "--json"
                                               << "info");
    VERIFY_EXIT(result, 0);
    const QList<QJsonObject> lAnswers = jsonLines(result.baOut);
    QCOMPARE(lAnswers.size(), 1);
    const QJsonObject answer = lAnswers.first();
    QCOMPARE(answer.value("device").toString(), QStringLiteral("127.0.0.1:%1").arg(simulator.port()));
    QCOMPARE(answer.value("command").toString(), QStringLiteral("API_CMD_GET_CONFIG"));
    QVERIFY(QRegularExpression("^\\{[0-9a-f-]{36}\\}$").match(answer.value("request").toString()).hasMatch());
    QCOMPARE(answer.value("code").toInt(-1), 0);
    QCOMPARE(answer.value("status").toString(), QStringLiteral("ok"));
    const QJsonObject info = answer.value("result").toArray().at(0).toObject();
    QCOMPARE(info.value("API_FW").toString(), QStringLiteral("3.2.1"));
    QCOMPARE(info.value("API_MAC").toString(), QStringLiteral("00:1A:2B:3C:4D:5E"));
}

void TstKestrolctl::countersJson()
{
    const Run list = run(deviceArgs("cam-1") << "--json"
                                             << "counters");
    VERIFY_EXIT(list, 0);
    QCOMPARE(jsonLines(list.baOut).value(0).value("result").toArray(), QJsonArray({"in", "out"}));

    const Run values = run(deviceArgs("cam-1") << "--json"
                                               << "counter"
                                               << "in"
                                               << "3600"
                                               << "2024-03-05 08:00:00"
                                               << "2024-03-05 12:00:00");
    VERIFY_EXIT(values, 0);
    QCOMPARE(jsonLines(values.baOut).value(0).value("result").toArray(), QJsonArray({"3", "1", "4"}));
    const QByteArray baTarget = simulator.requests("cam-1").last().target;
    QVERIFY2(baTarget.contains("counter_name=in&format=json&resolution=3600&datetime=2024-03-05%2008:00:00,"),
             baTarget.constData());
}

void TstKestrolctl::snapshotWritesDeviceImage()
{
    const QString sFile = tempDir.filePath("snap.jpg");
    const Run result = run(deviceArgs("cam-1") << "snapshot"
                                               << "2"
                                               << "-o" << sFile);
    VERIFY_EXIT(result, 0);
    QCOMPARE(fileBytes(sFile), simulator.snapshotJpeg(2));
    QVERIFY(result.baOut.contains(sFile.toUtf8()));

    // In JSON the image is named by its file, never printed.
    const Run json = run(deviceArgs("cam-1") << "--json"
                                             << "API_CMD_SNAPSHOT"
                                             << "3"
                                             << "-o" << tempDir.path());
    VERIFY_EXIT(json, 0);
    const QJsonObject image = jsonLines(json.baOut).value(0).value("result").toArray().at(0).toObject();
    QCOMPARE(fileBytes(image.value("file").toString()), simulator.snapshotJpeg(3));
    QCOMPARE(image.value("bytes").toInt(), simulator.snapshotJpeg(3).size());
}

void TstKestrolctl::settingsBackupAndRestore()
{
    const QByteArray baOriginal = simulator.settings("cam-2");
    const Run backup = run(deviceArgs("cam-2") << "--json"
                                               << "settings-save" << tempDir.path());
    VERIFY_EXIT(backup, 0);
    const QString sBackup = jsonLines(backup.baOut).value(0).value("result").toArray().at(0).toString();
    QVERIFY2(QFileInfo(sBackup).isAbsolute() && sBackup.endsWith("_db.ndb"), qPrintable(sBackup));
    QCOMPARE(fileBytes(sBackup), baOriginal);

    const QString sOther = tempDir.filePath("other.ndb");
    QVERIFY(writeFile(sOther, "other settings"));
    VERIFY_EXIT(run(deviceArgs("cam-2") << "settings-load" << sOther), 0);
    QCOMPARE(simulator.settings("cam-2"), QByteArray("other settings"));

    VERIFY_EXIT(run(deviceArgs("cam-2") << "settings-load" << sBackup), 0);
    QCOMPARE(simulator.settings("cam-2"), baOriginal);
}

void TstKestrolctl::firmwareUpdateWithoutTerminal()
{
    QByteArray baImage(3 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < baImage.size(); ++i)
        baImage[i] = char(i * 7 + i / 4096);
    const QString sImage = tempDir.filePath("fw.bin");
    QVERIFY(writeFile(sImage, baImage));

    const Run result = run(deviceArgs("cam-3") << "firmware-update" << sImage);
    VERIFY_EXIT(result, 0);
    const devicesim::FirmwareState firmware = simulator.firmware("cam-3");
    QCOMPARE(firmware.size, qint64(baImage.size()));
    QCOMPARE(firmware.sha256Hex, QCryptographicHash::hash(baImage, QCryptographicHash::Sha256).toHex());
    // Output goes to pipes here, so no progress bar may be drawn.
    QVERIFY(!result.baErr.contains('\r') && !result.baOut.contains('\r'));
    QVERIFY(result.baErr.isEmpty());
}

void TstKestrolctl::passwordFromEnvironmentStaysOutOfLog()
{
    QProcessEnvironment env = environment;
    env.insert("KESTROL_PASSWORD", "pw-cam-1");
    const Run result =
        run({"--url", simulator.baseUrl("cam-1"), "--user", "admin", "--verbose", "login-check"}, env);
    VERIFY_EXIT(result, 0);
    QVERIFY(result.baOut.contains("credentials accepted"));
    const QList<QByteArray> lLines = result.baErr.trimmed().split('\n');
    QVERIFY(lLines.size() >= 2);
    for (const QByteArray &baLine : lLines)
        QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} ").match(QString(baLine)).hasMatch(),
                 baLine);
    QVERIFY(!result.baErr.contains("pw-cam-1"));
}

void TstKestrolctl::deviceFile()
{
    const QString sList = tempDir.filePath("fleet.csv");
    const QString sCsv = QStringLiteral("# id,url,user,password\n"
                                        "cam-1,%1,admin,pw-cam-1\n"
                                        "\n"
                                        "\"cam 2\",%2,admin,\"pw-cam-2\"\n"
                                        "cam-3 , %3 ,,\n"
                                        "wrong,%4,admin,nope\n")
                             .arg(simulator.baseUrl("cam-1"), simulator.baseUrl("cam-2"),
                                  simulator.baseUrl("cam-3"), simulator.baseUrl("locked"));
    QVERIFY(writeFile(sList, sCsv.toUtf8()));

    // cam-3 takes user and password from the command line; "wrong" is refused, which decides the status.
    const Run json = run({"--devices", sList, "--user", "admin", "--password", "pw-cam-3", "--json", "info"});
    VERIFY_EXIT(json, 3);
    QHash<QString, QJsonObject> hByDevice;
    for (const QJsonObject &answer : jsonLines(json.baOut))
        hByDevice.insert(answer.value("device").toString(), answer);
    QCOMPARE(hByDevice.keys().size(), 4);
    for (const QString &sId : QStringList{"cam-1", "cam 2", "cam-3"})
        QCOMPARE(hByDevice.value(sId).value("code").toInt(-1), 0);
    QCOMPARE(hByDevice.value("wrong").value("code").toInt(), 101);
    QCOMPARE(hByDevice.value("wrong").value("status").toString(), QStringLiteral("refused"));

    const Run table = run({"--devices", sList, "--user", "admin", "--password", "pw-cam-3", "login-check"});
    VERIFY_EXIT(table, 3);
    QVERIFY2(table.baOut.contains("4 devices in ") &&
                 table.baOut.contains(": 3 succeeded, 1 failed (code 101: 1)"),
             table.baOut.constData());
}

void TstKestrolctl::deviceFileBackupNamesFilesPerDevice()
{
    const QString sList = tempDir.filePath("backup.csv");
    QByteArray baCsv;
    for (const QString &sId : QStringList{"cam-1", "cam-2", "cam-3"})
        baCsv += QStringLiteral("%1,%2,admin,pw-%1\n").arg(sId, simulator.baseUrl(sId)).toUtf8();
    QVERIFY(writeFile(sList, baCsv));
    const QString sDir = tempDir.filePath("backups");
    QVERIFY(QDir().mkpath(sDir));

    const Run result = run({"--devices", sList, "settings-save", sDir});
    VERIFY_EXIT(result, 0);
    for (const QString &sId : QStringList{"cam-1", "cam-2", "cam-3"}) {
        const QStringList lFiles = QDir(sDir).entryList({sId + "_*_db.ndb"}, QDir::Files);
        QCOMPARE(lFiles.size(), 1);
        QCOMPARE(fileBytes(QDir(sDir).filePath(lFiles.first())), simulator.settings(sId));
    }
}

void TstKestrolctl::failures_data()
{
    QTest::addColumn<QStringList>("lArgs");
    QTest::addColumn<QString>("sTransferTimeoutMs");
    QTest::addColumn<int>("iExit");

    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString sUnreachable = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();

    QTest::newRow("wrong password") << (deviceArgs("cam-1") << "--password"
                                                            << "nope"
                                                            << "info")
                                    << "20000" << 3;
    QTest::newRow("no credentials") << QStringList{"--url", simulator.baseUrl("cam-1"), "info"} << "20000"
                                    << 3;
    QTest::newRow("unreachable") << QStringList{"--url",      sUnreachable, "--user", "a",
                                                "--password", "b",          "info"}
                                 << "20000" << 1;
    QTest::newRow("silent, kestrolctl time-out") << (deviceArgs("silent") << "--timeout"
                                                                          << "1"
                                                                          << "info")
                                                 << "20000" << 4;
    QTest::newRow("silent, plugin time-out") << (deviceArgs("silent") << "info") << "1000" << 1;
}

void TstKestrolctl::failures()
{
    QFETCH(QStringList, lArgs);
    QFETCH(QString, sTransferTimeoutMs);
    QFETCH(int, iExit);
    QProcessEnvironment env = environment;
    env.insert("KESTROL_TRANSFER_TIMEOUT_MS", sTransferTimeoutMs);
    const Run result = run(lArgs, env);
    VERIFY_EXIT(result, iExit);
    QVERIFY(result.baOut.contains("error:"));
}

void TstKestrolctl::badInput_data()
{
    QTest::addColumn<QStringList>("lArgs");
    QTest::addColumn<int>("iExit");
    QTest::addColumn<QString>("sMessage");

    const QString sBadList = tempDir.filePath("bad.csv");
    QVERIFY(writeFile(sBadList, "cam-1,192.0.2.10,admin,pw\n"));

    QTest::newRow("no command") << deviceArgs("cam-1") << 2 << "no command";
    QTest::newRow("unknown command") << (deviceArgs("cam-1") << "frobnicate") << 2 << "unknown command";
    QTest::newRow("unknown option") << (deviceArgs("cam-1") << "--frobnicate"
                                                            << "info")
                                    << 2 << "frobnicate";
    QTest::newRow("missing arguments") << (deviceArgs("cam-1") << "counter"
                                                               << "in"
                                                               << "3600")
                                       << 2 << "missing arguments";
    QTest::newRow("extra argument") << (deviceArgs("cam-1") << "info"
                                                            << "now")
                                    << 2 << "takes no arguments";
    QTest::newRow("too many arguments") << (deviceArgs("cam-1") << "settings-save"
                                                                << "a"
                                                                << "b")
                                        << 2 << "too many";
    QTest::newRow("no device") << QStringList{"info"} << 2 << "--url URL or --devices FILE";
    QTest::newRow("url and device file")
        << (deviceArgs("cam-1") << "--devices" << sBadList << "info") << 2 << "not both";
    QTest::newRow("url without scheme")
        << QStringList{"--url", "192.0.2.10", "info"} << 2 << "scheme and host";
    QTest::newRow("url without host") << QStringList{"--url", "https://", "info"} << 2 << "scheme and host";
    QTest::newRow("device file url") << QStringList{"--devices", sBadList, "info"} << 2 << "bad.csv:1:";
    QTest::newRow("missing device file")
        << QStringList{"--devices", "/nonexistent/devices.csv", "info"} << 2 << "cannot read";
    QTest::newRow("missing upload file") << (deviceArgs("cam-1") << "firmware-update"
                                                                 << "/nonexistent/fw.bin")
                                         << 2 << "does not exist";
    QTest::newRow("missing settings file")
        << (deviceArgs("cam-1") << "settings-load" << tempDir.filePath("none.ndb")) << 2 << "does not exist";
    QTest::newRow("unwritable snapshot") << (deviceArgs("cam-1") << "snapshot"
                                                                 << "1"
                                                                 << "-o"
                                                                 << "/nonexistent/dir/x.jpg")
                                         << 2 << "cannot write";
    QTest::newRow("unwritable backup") << (deviceArgs("cam-1") << "settings-save"
                                                               << "/nonexistent/dir/x.ndb")
                                       << 2 << "cannot write";
    QTest::newRow("output for other command") << (deviceArgs("cam-1") << "info"
                                                                      << "-o" << tempDir.path())
                                              << 2 << "-o";
    QTest::newRow("bad channel") << (deviceArgs("cam-1") << "snapshot"
                                                         << "one")
                                 << 2 << "CHANNEL";
    QTest::newRow("bad resolution") << (deviceArgs("cam-1") << "counter"
                                                            << "in"
                                                            << "hourly"
                                                            << "2024-03-05 08:00:00"
                                                            << "2024-03-05 09:00:00")
                                    << 2 << "RESOLUTION";
    QTest::newRow("bad start") << (deviceArgs("cam-1") << "counter"
                                                       << "in"
                                                       << "3600"
                                                       << "yesterday"
                                                       << "2024-03-05 09:00:00")
                               << 2 << "START";
    QTest::newRow("end before start") << (deviceArgs("cam-1") << "counter"
                                                              << "in"
                                                              << "3600"
                                                              << "2024-03-05 09:00:00"
                                                              << "2024-03-05 08:00:00")
                                      << 2 << "before START";
    QTest::newRow("bad timeout") << (deviceArgs("cam-1") << "--timeout"
                                                         << "soon"
                                                         << "info")
                                 << 2 << "--timeout";
    QTest::newRow("no password") << QStringList{"--url", simulator.baseUrl("cam-1"), "--user", "admin",
                                                "info"}
                                 << 2 << "KESTROL_PASSWORD";
    QTest::newRow("bad demo count") << QStringList{"demo", "--devices", "0"} << 2 << "from 1 to";
    QTest::newRow("missing plugin") << (deviceArgs("cam-1") << "--plugin"
                                                            << "/nonexistent/libx.so"
                                                            << "info")
                                    << 5 << "no plugin module";
    QTest::newRow("not a plugin") << (deviceArgs("cam-1")
                                      << "--plugin" << QCoreApplication::applicationFilePath() << "info")
                                  << 5 << "plugin";
}

void TstKestrolctl::badInput()
{
    QFETCH(QStringList, lArgs);
    QFETCH(int, iExit);
    QFETCH(QString, sMessage);
    simulator.clearRequests();
    const Run result = run(lArgs);
    VERIFY_EXIT(result, iExit);
    QVERIFY(result.baOut.isEmpty());
    const QString sErr = QString::fromUtf8(result.baErr);
    QVERIFY2(sErr.startsWith("kestrolctl: ") && sErr.count('\n') == 1, qPrintable(sErr));
    QVERIFY2(sErr.contains(sMessage), qPrintable(sErr));
    QVERIFY(simulator.requests().isEmpty());
}

// The example was built through find_package against the installed package, and loads the installed module.
void TstKestrolctl::integrationExample()
{
    QProcess process;
    process.start(QStringLiteral(MINIMAL_HOST_PATH), {QStringLiteral(KESTROL_INSTALLED_MODULE),
                                                      simulator.baseUrl("cam-2"), "admin", "pw-cam-2"});
    QVERIFY(process.waitForFinished(iProcessWaitMs));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(process.readAllStandardOutput().contains("code 0, firmware 3.2.1, MAC 00:1A:2B:3C:4D:5E"));
}

void TstKestrolctl::docsQuoteTheExample_data()
{
    QTest::addColumn<QString>("sFence");
    QTest::addColumn<QString>("sFile");
    QTest::newRow("program") << "```cpp\n" << "minimal_host.cpp";
    QTest::newRow("build") << "```cmake\n" << "CMakeLists.txt";
}

void TstKestrolctl::docsQuoteTheExample()
{
    QFETCH(QString, sFence);
    QFETCH(QString, sFile);
    const QString sDoc =
        QString::fromUtf8(fileBytes(QStringLiteral(KESTROL_SOURCE_DIR "/docs/host-integration.md")));
    const int iStart = sDoc.indexOf(sFence) + sFence.size();
    const int iEnd = sDoc.indexOf("```\n", iStart);
    QVERIFY(iStart > sFence.size() && iEnd > iStart);
    QCOMPARE(sDoc.mid(iStart, iEnd - iStart),
             QString::fromUtf8(fileBytes(QStringLiteral(KESTROL_SOURCE_DIR "/docs/examples/") + sFile)));
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
    QCOMPARE(info.value("module").toString(), QFileInfo(QStringLiteral(KESTROL_INSTALLED_MODULE)).canonicalFilePath());
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
}

QTEST_GUILESS_MAIN(TstKestrolctl)
#include "tst_kestrolctl.moc"
