#include "simreply.h"

#include <httplib.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace devicesim {

namespace {

constexpr size_t kPieceBytes = 64 * 1024;

// Source of the bytes of a reply: the stored body, or a repeating text pattern for generated bodies.
class BodySource
{
public:
    explicit BodySource(const Reply &reply)
        : baBody(reply.baBody),
          iSize(reply.iGeneratedBytes > 0 ? size_t(reply.iGeneratedBytes) : size_t(reply.baBody.size())),
          bGenerated(reply.iGeneratedBytes > 0)
    {
    }

    size_t size() const { return iSize; }

    // Writes up to iMax bytes from iOffset on, one piece at most; returns the count, 0 when the peer is gone.
    size_t writeAt(httplib::DataSink &sink, size_t iOffset, size_t iMax) const
    {
        size_t iCount = std::min({iMax, iSize - iOffset, kPieceBytes});
        const char *pData = baBody.constData() + iOffset;
        if (bGenerated) {
            const QByteArray &baPattern = pattern();
            const size_t iStart = iOffset % size_t(baPattern.size());
            iCount = std::min(iCount, size_t(baPattern.size()) - iStart);
            pData = baPattern.constData() + iStart;
        }
        return sink.write(pData, iCount) ? iCount : 0;
    }

private:
    static const QByteArray &pattern()
    {
        static const QByteArray baPattern = [] {
            QByteArray baLine = "kestrol-devicesim generated body 0123456789abcdefghijklmnopqrstuvwxyz\n";
            QByteArray baAll;
            while (size_t(baAll.size()) < kPieceBytes)
                baAll += baLine;
            return baAll.left(int(kPieceBytes));
        }();
        return baPattern;
    }

    QByteArray baBody;
    size_t iSize;
    bool bGenerated;
};

} // namespace

Reply jsonReply(int iStatus, const QByteArray &baJson)
{
    Reply reply;
    reply.iStatus = iStatus;
    reply.baBody = baJson;
    return reply;
}

Reply errorReply(int iStatus, const QByteArray &baMessage)
{
    return jsonReply(
        iStatus,
        QJsonDocument(QJsonObject{{"error", QString::fromUtf8(baMessage)}}).toJson(QJsonDocument::Compact));
}

void BufferMeter::note(qint64 iBytes)
{
    qint64 iSeen = iPeak.load();
    while (iBytes > iSeen && !iPeak.compare_exchange_weak(iSeen, iBytes)) {
    }
}

void writeReply(httplib::Response &res, const Reply &reply, const std::atomic<bool> &bStopping,
                BufferMeter &meter)
{
    res.status = reply.iStatus;
    for (const auto &header : reply.lHeaders)
        res.set_header(header.first.toStdString(), header.second.toStdString());
    const std::string sContentType = reply.baContentType.toStdString();
    const BodySource source(reply);
    meter.note(reply.iGeneratedBytes > 0 ? qint64(kPieceBytes) : qint64(reply.baBody.size()));

    if (reply.bBadChunk) {
        // Framed by hand: the library's own chunked writer only produces valid framing.
        const QByteArray baBody = reply.baBody;
        res.set_header("Transfer-Encoding", "chunked");
        res.set_content_provider(sContentType, [baBody](size_t, httplib::DataSink &sink) {
            const QByteArray baFirst = baBody.left(baBody.size() / 2);
            const QByteArray baWire = QByteArray::number(baFirst.size(), 16) + "\r\n" + baFirst +
                                      "\r\nzz\r\n" + baBody.mid(baFirst.size()) + "\r\n0\r\n\r\n";
            sink.write(baWire.constData(), size_t(baWire.size()));
            sink.done();
            return true;
        });
        return;
    }
    if (reply.iLengthMismatch != 0 && reply.bChunked) {
        // Both framings at once, contradicting each other; the chunks below carry the whole body.
        res.set_header("Content-Length", std::to_string(reply.baBody.size() + reply.iLengthMismatch));
    } else if (reply.iLengthMismatch != 0) {
        // The whole body goes out in one write, whatever length was declared; a longer declaration is never
        // met and the connection is closed.
        const QByteArray baBody = reply.baBody;
        const qint64 iDeclared = qMax<qint64>(0, baBody.size() + reply.iLengthMismatch);
        const bool bClose = reply.iLengthMismatch > 0;
        res.set_content_provider(size_t(iDeclared), sContentType,
                                 [baBody, bClose](size_t iOffset, size_t, httplib::DataSink &sink) {
                                     if (iOffset > 0)
                                         return false;
                                     sink.write(baBody.constData(), size_t(baBody.size()));
                                     return !bClose;
                                 });
        return;
    }
    if (!reply.bChunked && !reply.bDropMidBody && !reply.bCloseAfter && reply.iGeneratedBytes == 0) {
        res.set_content(reply.baBody.constData(), size_t(reply.baBody.size()), sContentType);
        return;
    }

    // A provider that returns false makes the library close the connection after what was written so far.
    const size_t iLimit = reply.bDropMidBody ? source.size() / 2 : source.size();
    const bool bDrop = reply.bDropMidBody;
    if (reply.bChunked) {
        const size_t iPiece = std::clamp<size_t>(source.size() / 3, 1, kPieceBytes);
        res.set_chunked_content_provider(sContentType, [source, iLimit, iPiece, bDrop,
                                                        &bStopping](size_t iOffset, httplib::DataSink &sink) {
            if (bStopping)
                return false;
            if (iOffset >= iLimit) {
                if (bDrop)
                    return false;
                sink.done();
                return true;
            }
            return source.writeAt(sink, iOffset, std::min(iPiece, iLimit - iOffset)) > 0;
        });
        return;
    }
    const bool bCloseAfter = reply.bCloseAfter;
    res.set_content_provider(
        source.size(), sContentType,
        [source, iLimit, bCloseAfter, &bStopping](size_t iOffset, size_t iLength, httplib::DataSink &sink) {
            if (bStopping || iOffset >= iLimit)
                return false;
            const size_t iWritten = source.writeAt(sink, iOffset, std::min(iLength, iLimit - iOffset));
            return iWritten > 0 && !(bCloseAfter && iOffset + iWritten == source.size());
        });
}

} // namespace devicesim
