#include "networkhandlerkestrol.h"

#include "logging.h"

#include <QSaveFile>

// Takes what the reply has available: into the identifier's buffer, or into its download file, which
// is written under a temporary name and appears only when committed. False when the file cannot take it.
bool NetworkHandlerKestrol::prStoreData(QNetworkReply *pReply, const QString &sUuid)
{
    const QString sDownloadFilename = pReply->property(cPropertyDownloadFilename).toString();
    const QByteArray baChunk = pReply->readAll();
    if (sDownloadFilename.isEmpty()) {
        QByteArray &baBuffer = mapReplyData[sUuid];
        baBuffer.append(baChunk);
        qCDebug(lcKestrolNetwork) << sUuid << "received" << baChunk.size() << "bytes," << baBuffer.size()
                                  << "in memory";
        return true;
    }

    QSaveFile *pFile = prDownloadFile(sUuid, sDownloadFilename);
    if (!pFile)
        return false;
    if (pFile->write(baChunk) != baChunk.size()) {
        emit signal_log(QStringLiteral("Could not write download file: %1, %2 (%3)")
                            .arg(sDownloadFilename, pFile->errorString(), sUuid));
        return false;
    }
    qCDebug(lcKestrolNetwork) << sUuid << "received" << baChunk.size() << "bytes," << pFile->pos()
                              << "written to" << sDownloadFilename;
    return true;
}

// The download file of the identifier, opened on first use; null (after a log line) when it cannot be.
QSaveFile *NetworkHandlerKestrol::prDownloadFile(const QString &sUuid, const QString &sFilename)
{
    if (QSaveFile *pFile = mapDownloadFiles.value(sUuid))
        return pFile;
    auto *pFile = new QSaveFile(sFilename, this);
    if (!pFile->open(QIODevice::WriteOnly)) {
        emit signal_log(QStringLiteral("Could not open download file: %1, %2 (%3)")
                            .arg(sFilename, pFile->errorString(), sUuid));
        delete pFile;
        return nullptr;
    }
    mapDownloadFiles.insert(sUuid, pFile);
    return pFile;
}

// Puts the finished download file in place; an empty body still gives a file.
bool NetworkHandlerKestrol::prCommitDownload(const QString &sUuid, const QString &sFilename)
{
    QSaveFile *pFile = prDownloadFile(sUuid, sFilename);
    if (!pFile)
        return false;
    if (!pFile->commit()) {
        emit signal_log(QStringLiteral("Could not write download file: %1, %2 (%3)")
                            .arg(sFilename, pFile->errorString(), sUuid));
        return false;
    }
    emit signal_log(QStringLiteral("New download file: %1 (%2)").arg(sFilename, sUuid));
    return true;
}
