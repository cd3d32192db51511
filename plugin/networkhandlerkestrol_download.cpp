#include "networkhandlerkestrol.h"

#include "logging.h"
#include "logtext.h"

#include <QFileInfo>
#include <QSaveFile>

namespace {

// A short write is retried, so that a refusal comes with the system's reason ("No space left on device",
// "File too large"): the first short write of a full disk reports no error of its own.
bool writeAll(QFileDevice &file, const QByteArray &baData)
{
    qint64 iDone = 0;
    while (iDone < baData.size()) {
        const qint64 iWritten = file.write(baData.constData() + iDone, baData.size() - iDone);
        if (iWritten <= 0)
            return false;
        iDone += iWritten;
    }
    return true;
}

} // namespace

// Takes what the reply has available: into the request's buffer, or into its download file, which is written
// under a temporary name and appears only when committed. False when the file cannot take it.
bool NetworkHandlerKestrol::prStoreData(Request &request)
{
    // What the reply holds, in one array of its size (readAll() grows one in 16 KiB steps). Qt 6 counts a
    // body it has yet to decompress short; readAll() takes the rest.
    QByteArray baChunk = request.pReply->read(request.pReply->bytesAvailable());
    if (request.pReply->bytesAvailable() > 0)
        baChunk += request.pReply->readAll();
    request.iReceived += baChunk.size();
    if (request.sDownloadFilename.isEmpty()) {
        request.baData.append(baChunk);
        qCDebug(lcKestrolNetwork) << request.sUuid << "received" << baChunk.size() << "bytes,"
                                  << request.baData.size() << "in memory";
        return true;
    }

    QSaveFile *pFile = prDownloadFile(request);
    if (!pFile)
        return false;
    if (!writeAll(*pFile, baChunk)) {
        emit signal_log(QStringLiteral("Could not write download file: %1, %2 (%3)")
                            .arg(LogText::escaped(request.sDownloadFilename),
                                 LogText::scrubbed(pFile->errorString()), request.sUuid));
        return false;
    }
    qCDebug(lcKestrolNetwork) << request.sUuid << "received" << baChunk.size() << "bytes," << pFile->pos()
                              << "written";
    return true;
}

// Qt occasionally ends a body cut short by a closed connection as if it were whole. A length that describes
// the bytes received (no content coding that Qt undid) tells.
bool NetworkHandlerKestrol::isBodyComplete(Request &request)
{
    QNetworkReply *pReply = request.pReply;
    const QVariant declared = pReply->header(QNetworkRequest::ContentLengthHeader);
    if (!declared.isValid() || declared.toLongLong() == request.iReceived)
        return true;
    const QByteArray baCoding = pReply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!(baCoding.isEmpty() || baCoding == "identity"))
        return true;
    emit signal_log(QStringLiteral("Incomplete body: %1, %2 of %3 bytes (%4)")
                        .arg(request.sLogUrl, QString::number(request.iReceived),
                             QString::number(declared.toLongLong()), request.sUuid));
    return false;
}

// The request's download file, opened on first use; null (after a log line) when it cannot be. An existing
// symbolic link is refused: the file would be written wherever the link points. The file is unbuffered:
// QSaveFile writes a buffer left at commit without checking the write, and would put a cut file in place.
QSaveFile *NetworkHandlerKestrol::prDownloadFile(Request &request)
{
    if (request.pDownloadFile)
        return request.pDownloadFile.get();
    auto pFile = std::make_unique<QSaveFile>(request.sDownloadFilename);
    QString sReason;
    if (QFileInfo(request.sDownloadFilename).isSymLink())
        sReason = QStringLiteral("the path is a symbolic link");
    else if (!pFile->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        sReason = LogText::scrubbed(pFile->errorString());
    if (!sReason.isEmpty()) {
        emit signal_log(QStringLiteral("Could not open download file: %1, %2 (%3)")
                            .arg(LogText::escaped(request.sDownloadFilename), sReason, request.sUuid));
        return nullptr;
    }
    request.pDownloadFile = std::move(pFile);
    return request.pDownloadFile.get();
}

// Puts the finished download file in place; an empty body still gives a file.
bool NetworkHandlerKestrol::prCommitDownload(Request &request)
{
    QSaveFile *pFile = prDownloadFile(request);
    if (!pFile)
        return false;
    if (!pFile->commit()) {
        emit signal_log(QStringLiteral("Could not write download file: %1, %2 (%3)")
                            .arg(LogText::escaped(request.sDownloadFilename),
                                 LogText::scrubbed(pFile->errorString()), request.sUuid));
        return false;
    }
    emit signal_log(QStringLiteral("New download file: %1 (%2)")
                        .arg(LogText::escaped(request.sDownloadFilename), request.sUuid));
    return true;
}
