#include "simfleet.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrlQuery>

namespace {
// Simulators that stopped answering their control endpoint fail the set-up instead of holding the soak.
constexpr int kSetFaultsMs = 60000;
} // namespace

bool SimFleet::start(const QString &sExecutable, int iDevices, QString *psError)
{
    QList<QStringList> lArgsPerServer;
    for (int i = 0; i < kServers; ++i) {
        QStringList lArgs = {"--auth",           i % 2 ? "digest" : "basic",
                             "--user",           kUser,
                             "--password",       kPassword,
                             "--devices",        QString::number(iDevices),
                             "--threads",        "96",
                             "--reboot-seconds", "0",
                             "--update-version", ""};
        if (isTls(i))
            lArgs << "--tls";
        lArgsPerServer.append(lArgs);
    }
    return servers.start(sExecutable, lArgsPerServer, psError);
}

void SimFleet::stop()
{
    servers.stop();
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
    if (iPending > 0) {
        QTimer::singleShot(kSetFaultsMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (iPending > 0 && psError->isEmpty())
        *psError = QStringLiteral("faults not set: %1 settings unanswered").arg(iPending);
    return psError->isEmpty();
}
