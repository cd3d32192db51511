#include "simfleet.h"

#include "childprocess.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QUrlQuery>

namespace {

constexpr int kStartMs = 30000;
constexpr int kStopMs = 10000;

int servingPort(const QByteArray &baOutput)
{
    static const QRegularExpression serving(QStringLiteral("^Serving .* on 127\\.0\\.0\\.1:(\\d+),"),
                                            QRegularExpression::MultilineOption);
    return serving.match(QString::fromLatin1(baOutput)).captured(1).toInt();
}

} // namespace

SimFleet::SimFleet() = default;

SimFleet::~SimFleet()
{
    stop();
}

bool SimFleet::start(const QString &sExecutable, int iDevices, QString *psError)
{
    for (int i = 0; i < kServers; ++i) {
        QStringList lArgs = {"--port",           "0",
                             "--auth",           i % 2 ? "digest" : "basic",
                             "--user",           kUser,
                             "--password",       kPassword,
                             "--devices",        QString::number(iDevices),
                             "--threads",        "96",
                             "--reboot-seconds", "0",
                             "--update-version", ""};
        if (isTls(i))
            lArgs << "--tls";
        vServers.push_back(std::make_unique<ChildProcess>());
        vServers.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        vServers.back()->start(sExecutable, lArgs);
    }
    const QDeadlineTimer deadline(kStartMs);
    for (const auto &pServer : vServers) {
        QByteArray baOutput;
        int iPort = 0;
        while (iPort == 0 && !deadline.hasExpired() && pServer->state() != QProcess::NotRunning) {
            pServer->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
            baOutput += pServer->readAllStandardOutput();
            iPort = servingPort(baOutput);
        }
        if (iPort == 0) {
            *psError = QStringLiteral("%1 did not start: %2").arg(sExecutable, pServer->errorString());
            stop();
            return false;
        }
        lPorts.append(iPort);
        pServer->closeReadChannel(QProcess::StandardOutput);
    }
    return true;
}

void SimFleet::stop()
{
    for (const auto &pServer : vServers)
        pServer->terminate();
    for (const auto &pServer : vServers) {
        if (!pServer->waitForFinished(kStopMs))
            pServer->kill();
        pServer->waitForFinished(kStopMs);
    }
    vServers.clear();
    lPorts.clear();
}

QString SimFleet::baseUrl(int iServer, int iDevice) const
{
    return QStringLiteral("%1://127.0.0.1:%2/dev/%3")
        .arg(isTls(iServer) ? "https" : "http")
        .arg(port(iServer))
        .arg(iDevice + 1);
}

bool SimFleet::setFaults(QNetworkAccessManager &manager, const QList<FaultSetting> &lSettings,
                         QString *psError)
{
    QEventLoop loop;
    int iPending = 0;
    for (const FaultSetting &setting : lSettings) {
        QUrl url(QStringLiteral("%1://127.0.0.1:%2/_sim/faults")
                     .arg(isTls(setting.iServer) ? "https" : "http")
                     .arg(port(setting.iServer)));
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("device"), QString::number(setting.iDevice + 1));
        query.addQueryItem(QStringLiteral("path"), QString::fromLatin1(setting.baPath));
        url.setQuery(query);
        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        QNetworkReply *pReply = manager.put(request, setting.baFault);
        ++iPending;
        QObject::connect(pReply, &QNetworkReply::sslErrors, pReply,
                         [pReply](const QList<QSslError> &) { pReply->ignoreSslErrors(); });
        QObject::connect(pReply, &QNetworkReply::finished, &loop, [&, pReply] {
            if (pReply->error() != QNetworkReply::NoError && psError->isEmpty())
                *psError = QStringLiteral("fault not set: %1: %2")
                               .arg(pReply->url().toString(), QString::fromUtf8(pReply->readAll()));
            pReply->deleteLater();
            if (--iPending == 0)
                loop.quit();
        });
    }
    if (iPending > 0)
        loop.exec();
    return psError->isEmpty();
}
