// kestrol-devicesim: serves virtual devices on 127.0.0.1 until interrupted.
#include "devicesim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <signal.h>

#include <cstdio>

namespace {

struct Settings
{
    devicesim::Simulator::Options options;
    devicesim::DeviceConfig device;
    int iDevices = 1;
    QString sLargeBodyPath; // empty: none
    qint64 iLargeBodyBytes = 0;
};

// "<path>=<bytes>", e.g. "/files/export/settings.ndb=1073741824".
bool parseLargeBody(const QString &sValue, Settings &settings)
{
    const int iEquals = sValue.lastIndexOf('=');
    bool bOk = false;
    settings.sLargeBodyPath = sValue.left(iEquals);
    settings.iLargeBodyBytes = sValue.mid(iEquals + 1).toLongLong(&bOk);
    return iEquals > 0 && settings.sLargeBodyPath.startsWith('/') && bOk && settings.iLargeBodyBytes > 0;
}

bool parseArguments(const QCoreApplication &app, Settings &settings, QString &sError)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Device simulator: answers the camera/recorder REST API over HTTP or HTTPS on 127.0.0.1,\n"
        "so the plugin can be tried without a device. Every device lives under its own base URL,\n"
        "http(s)://127.0.0.1:PORT/dev/<id> with ids 1..N; give that URL to the host as the device address.\n"
        "Each device has its own MAC address and serial number.\n"
        "Every request is recorded: GET /_sim/requests returns the records as JSON (?device=<id> for one\n"
        "device), DELETE /_sim/requests clears them. PUT /_sim/faults?device=<id>&path=<api path> with a\n"
        "JSON object injects a fault into that path of that device (members: status, delayMs, hang,\n"
        "dropMidBody, chunked, lengthMismatch, badChunk, emptyBody, notJson, largeBodyBytes, body,\n"
        "redirectTo, unauthorizedTimes); DELETE /_sim/faults (?device=<id>) clears them. Stop with Ctrl+C.");
    parser.addHelpOption();
    parser.addOptions({
        {"port", "TCP port on 127.0.0.1; 0 picks a free port. Default 8080.", "port", "8080"},
        {"tls", "Serve HTTPS with a self-signed certificate made at start (clients must accept it)."},
        {"auth", "Authentication every device demands: none, basic, or digest (MD5, qop=auth). Default none.",
         "mode", "none"},
        {"user", "User name the devices accept. Default admin.", "user", "admin"},
        {"password", "Password the devices accept. Default secret.", "password", "secret"},
        {"devices", "Number of devices to serve, with ids 1..N. Default 1.", "count", "1"},
        {"threads", "Worker threads; each open connection holds one. Default 64.", "count", "64"},
        {"large-body",
         "Every device answers <path> (below its base, no query) with 200 and <bytes> bytes made while\n"
         "sending, so that huge downloads cost the simulator no memory.",
         "path=bytes"},
        {"update-version",
         "Firmware version a device runs after a firmware update; empty keeps the old version\n"
         "(an update that does not take). Default 3.3.0.",
         "version", "3.3.0"},
        {"reboot-seconds",
         "Seconds a device is away after a firmware update, answering 503 to every request. Default 5.",
         "seconds", "5"},
    });
    parser.process(app);

    bool bPortOk = false, bDevicesOk = false, bThreadsOk = false, bRebootOk = false;
    const uint iPort = parser.value("port").toUInt(&bPortOk);
    settings.iDevices = parser.value("devices").toInt(&bDevicesOk);
    settings.options.threads = parser.value("threads").toInt(&bThreadsOk);
    const double dRebootSeconds = parser.value("reboot-seconds").toDouble(&bRebootOk);
    const QString sAuth = parser.value("auth").toLower();
    if (!bPortOk || iPort > 65535)
        sError = "--port needs a number from 0 to 65535";
    else if (!bDevicesOk || settings.iDevices < 1)
        sError = "--devices needs a positive number";
    else if (!bThreadsOk || settings.options.threads < 1)
        sError = "--threads needs a positive number";
    else if (sAuth != "none" && sAuth != "basic" && sAuth != "digest")
        sError = "--auth needs none, basic or digest";
    else if (parser.isSet("large-body") && !parseLargeBody(parser.value("large-body"), settings))
        sError = "--large-body needs <path>=<bytes>, the path starting with /";
    else if (!bRebootOk || dRebootSeconds < 0 || dRebootSeconds > 3600)
        sError = "--reboot-seconds needs a number from 0 to 3600";
    if (!sError.isEmpty())
        return false;

    settings.options.port = quint16(iPort);
    settings.options.tls = parser.isSet("tls");
    settings.device.auth = sAuth == "basic"    ? devicesim::AuthMode::Basic
                           : sAuth == "digest" ? devicesim::AuthMode::Digest
                                               : devicesim::AuthMode::None;
    settings.device.user = parser.value("user");
    settings.device.password = parser.value("password");
    settings.device.swverAfterUpdate = parser.value("update-version");
    settings.device.updateRebootMs = int(dRebootSeconds * 1000);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    // Blocked before any thread starts, so that every thread inherits the mask and only sigwait() sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("kestrol-devicesim");
    QTextStream out(stdout);
    QTextStream err(stderr);

    Settings settings;
    QString sError;
    if (!parseArguments(app, settings, sError)) {
        err << "kestrol-devicesim: " << sError << " (see --help)\n";
        return 2;
    }

    devicesim::Simulator simulator(settings.options);
    if (!simulator.start()) {
        err << "kestrol-devicesim: cannot listen on 127.0.0.1:" << settings.options.port << ": "
            << simulator.errorString() << '\n';
        return 1;
    }
    devicesim::Fault largeBody;
    largeBody.largeBodyBytes = settings.iLargeBodyBytes;
    for (int i = 1; i <= settings.iDevices; ++i) {
        // Locally administered addresses, one per device, so tools can tell the devices apart.
        devicesim::DeviceConfig device = settings.device;
        device.mac = QStringLiteral("02:4B:53:%1:%2:%3")
                         .arg((i >> 16) & 0xFF, 2, 16, QChar('0'))
                         .arg((i >> 8) & 0xFF, 2, 16, QChar('0'))
                         .arg(i & 0xFF, 2, 16, QChar('0'))
                         .toUpper();
        out << simulator.addDevice(QString::number(i), device) << '\n';
        if (!settings.sLargeBodyPath.isEmpty())
            simulator.setFault(QString::number(i), settings.sLargeBodyPath, largeBody);
    }
    const char *pAuth[] = {"none", "basic", "digest"};
    out << "Serving " << settings.iDevices << " device(s) on 127.0.0.1:" << simulator.port() << ", "
        << (settings.options.tls ? "HTTPS" : "HTTP") << ", auth " << pAuth[int(settings.device.auth)]
        << "; records at " << (settings.options.tls ? "https" : "http") << "://127.0.0.1:" << simulator.port()
        << "/_sim/requests. Ctrl+C stops.\n";
    out.flush();

    int iSignal = 0;
    sigwait(&stopSignals, &iSignal);
    simulator.stop();
    return 0;
}
