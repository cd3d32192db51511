#include "transfers.h"

#include "deviceapiinterface.h"
#include "loadclient.h"
#include "procstats.h"
#include "tickgate.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

using Done = std::function<void(bool bOk, const QString &sOutput)>;

const QString sExportPath = QStringLiteral("/api/system/management/db/export/");
const QString sUploadPath = QStringLiteral("/api/system/management/fwupdate/upload/");
const QString sProgressPath = QStringLiteral("/api/system/management/fwupdate/progress/");
// The plugin's read buffer for downloads; the hand-written host uses the same.
constexpr qint64 kReadBufferBytes = 4 * 1024 * 1024;

QNetworkRequest authorized(const QString &sUrl)
{
    QNetworkRequest request{QUrl(sUrl)};
    request.setRawHeader("Authorization", basicAuthorization());
    return request;
}

// Runs start(done) and the event loop until done or the cap; memory growth is the peak over the size before.
QJsonObject measure(const std::function<void(const Done &)> &start, int iCapMs, QString &sOutput)
{
    QEventLoop loop;
    bool bDone = false, bOk = false;
    ProcStats::resetPeakRss();
    const qint64 iRssBeforeKib = ProcStats::rssKib();
    const qint64 iCpuStartNs = ProcStats::cpuNs();
    QElapsedTimer timer;
    timer.start();
    start([&](bool bSuccess, const QString &sResult) {
        bDone = true;
        bOk = bSuccess;
        sOutput = sResult;
        loop.quit();
    });
    QTimer::singleShot(iCapMs, &loop, &QEventLoop::quit);
    if (!bDone)
        loop.exec();
    const qint64 iPeakKib = ProcStats::peakRssKib();
    return {{"complete", bDone},
            {"ok", bOk},
            {"elapsedMs", double(timer.nsecsElapsed()) / 1e6},
            {"cpuMs", double(ProcStats::cpuNs() - iCpuStartNs) / 1e6},
            {"rssBeforeKib", double(iRssBeforeKib)},
            {"growthKib", double(iPeakKib - iRssBeforeKib)}};
}

// The plugin's answer to one command of the host, heard while pListener lives.
void runCommand(PluginClient &plugin, const QString &sCommand, const QVariantList &lParam, QObject *pListener,
                const Done &done)
{
    DeviceApiInterface *pApi = plugin.api();
    const QString sUuid = pApi->requestApiCommand(QStringLiteral("0"), sCommand, lParam);
    QObject::connect(pApi, &DeviceApiInterface::signal_apiResponse, pListener,
                     [sUuid, done](const QString &sAnswered, int iError, const QVariantList &lResult) {
                         if (sAnswered == sUuid)
                             done(iError == 0, lResult.value(0).toString());
                     });
}

void referenceDownload(QNetworkAccessManager &manager, const Transfers::Job &job, const QString &sFileUrl,
                       const Done &done)
{
    const QString sOutput = job.sPath + QStringLiteral("/reference-backup.ndb");
    auto pFile = std::make_shared<QFile>(sOutput);
    if (!pFile->open(QIODevice::WriteOnly)) {
        done(false, QString());
        return;
    }
    QNetworkReply *pDownload = manager.get(authorized(job.sBaseUrl + sFileUrl));
    pDownload->setReadBufferSize(kReadBufferBytes);
    QObject::connect(pDownload, &QNetworkReply::readyRead, [pDownload, pFile] {
        const QByteArray baChunk = pDownload->readAll();
        if (pFile->write(baChunk) != baChunk.size())
            pDownload->abort();
    });
    QObject::connect(pDownload, &QNetworkReply::finished, [pDownload, pFile, sOutput, done] {
        pDownload->deleteLater();
        const QByteArray baRest = pDownload->readAll();
        const bool bOk = pDownload->error() == QNetworkReply::NoError &&
                         pFile->write(baRest) == baRest.size() && pFile->flush();
        pFile->close();
        done(bOk, sOutput);
    });
}

// Export, then the download of the exported file into sDir, streamed through a 4 MiB read buffer.
void referenceBackup(QNetworkAccessManager &manager, TickGate &gate, const Transfers::Job &job,
                     const Done &done)
{
    gate.later([&manager, &gate, job, done] {
        QNetworkReply *pExport = manager.post(authorized(job.sBaseUrl + sExportPath), QByteArray());
        QObject::connect(pExport, &QNetworkReply::finished, [&manager, &gate, job, done, pExport] {
            pExport->deleteLater();
            const QString sFileUrl =
                QJsonDocument::fromJson(pExport->readAll()).object().value("url").toString();
            if (pExport->error() != QNetworkReply::NoError || sFileUrl.isEmpty()) {
                done(false, QString());
                return;
            }
            gate.later([&manager, job, done, sFileUrl] { referenceDownload(manager, job, sFileUrl, done); });
        });
    });
}

// A multipart POST of the image in the field "file", then one query of the update's progress.
void referenceUpload(QNetworkAccessManager &manager, TickGate &gate, const Transfers::Job &job,
                     const Done &done)
{
    auto *pFile = new QFile(job.sPath);
    if (!pFile->open(QIODevice::ReadOnly)) {
        delete pFile;
        done(false, QString());
        return;
    }
    auto *pMultiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    pFile->setParent(pMultiPart);
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
    part.setHeader(
        QNetworkRequest::ContentDispositionHeader,
        QStringLiteral("form-data; name=\"file\"; filename=\"%1\"").arg(QFileInfo(job.sPath).fileName()));
    part.setBodyDevice(pFile);
    pMultiPart->append(part);
    gate.later([&manager, &gate, job, done, pMultiPart] {
        QNetworkReply *pUpload = manager.post(authorized(job.sBaseUrl + sUploadPath), pMultiPart);
        pMultiPart->setParent(pUpload);
        QObject::connect(pUpload, &QNetworkReply::finished, [&manager, &gate, job, done, pUpload] {
            pUpload->deleteLater();
            if (pUpload->error() != QNetworkReply::NoError) {
                done(false, QString());
                return;
            }
            gate.later([&manager, job, done] {
                QNetworkReply *pProgress = manager.get(authorized(job.sBaseUrl + sProgressPath));
                QObject::connect(pProgress, &QNetworkReply::finished, [pProgress, done] {
                    pProgress->deleteLater();
                    done(pProgress->error() == QNetworkReply::NoError, QString());
                });
            });
        });
    });
}

// Whether the device's last upload carried an image of the expected size, from the simulator's records.
bool deviceReceived(const Transfers::Job &job)
{
    const int iDev = job.sBaseUrl.lastIndexOf(QLatin1String("/dev/"));
    QNetworkAccessManager manager;
    QNetworkReply *pReply = manager.get(
        authorized(job.sBaseUrl.left(iDev) + "/_sim/requests?device=" + job.sBaseUrl.mid(iDev + 5)));
    QEventLoop loop;
    QObject::connect(pReply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    const QJsonArray lRecords = QJsonDocument::fromJson(pReply->readAll()).array();
    delete pReply;
    for (int i = lRecords.size() - 1; i >= 0; --i) {
        const QJsonObject record = lRecords.at(i).toObject();
        if (record.value("apiPath").toString() != sUploadPath)
            continue;
        const QJsonObject part = record.value("parts").toArray().first().toObject();
        return part.value("name").toString() == QLatin1String("file") &&
               qint64(part.value("size").toDouble()) == job.iBytes;
    }
    return false;
}

using Reference = void (*)(QNetworkAccessManager &, TickGate &, const Transfers::Job &, const Done &);

// One measured transfer: the plugin's command sCommand, or the hand-written host's reference exchange.
QJsonObject transfer(PluginClient *pPlugin, const Transfers::Job &job, const QString &sCommand,
                     Reference reference, QString &sOutput)
{
    QNetworkAccessManager manager;
    TickGate gate(job.bTick);
    // An answer after the cap must not reach a measurement that has ended.
    QObject listener;
    return measure(
        [&](const Done &done) {
            if (pPlugin)
                runCommand(*pPlugin, sCommand, {job.sPath}, &listener, done);
            else
                reference(manager, gate, job, done);
        },
        job.iCapMs, sOutput);
}

} // namespace

namespace Transfers {

QJsonObject backup(PluginClient *pPlugin, const Job &job)
{
    QString sOutput;
    QJsonObject result =
        transfer(pPlugin, job, QStringLiteral("API_CMD_SETTINGS_SAVE"), referenceBackup, sOutput);
    const qint64 iSize = QFileInfo(sOutput).size();
    result.insert("ok", result.value("ok").toBool() && iSize == job.iBytes);
    result.insert("bytes", double(iSize));
    QFile::remove(sOutput);
    return result;
}

QJsonObject upload(PluginClient *pPlugin, const Job &job)
{
    QString sOutput;
    QJsonObject result =
        transfer(pPlugin, job, QStringLiteral("API_CMD_FIRMWARE_UPDATE"), referenceUpload, sOutput);
    result.insert("ok", result.value("ok").toBool() && deviceReceived(job));
    result.insert("bytes", double(job.iBytes));
    return result;
}

} // namespace Transfers
