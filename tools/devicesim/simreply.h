// One answer of a device and how it goes on the wire, including the transfer faults.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

#include <atomic>

namespace httplib {
struct Response;
}

namespace devicesim {

struct Reply
{
    int iStatus = 200;
    QByteArray baContentType = "application/json";
    QByteArray baBody;
    qint64 iGeneratedBytes = 0; // > 0: this many bytes made up while sending, instead of baBody
    QList<QPair<QByteArray, QByteArray>> lHeaders;
    bool bChunked = false;      // no Content-Length, several chunks
    bool bDropMidBody = false;  // half of the body, then the connection is closed
    qint64 iLengthMismatch = 0; // declared length minus the length sent
    bool bBadChunk = false;     // chunked framing with a malformed chunk-size line
    bool bCloseAfter = false; // whole answer, then the connection is closed (the request stream is unusable)

    void addHeader(const QByteArray &baName, const QByteArray &baValue)
    {
        lHeaders.append({baName, baValue});
    }
};

Reply jsonReply(int iStatus, const QByteArray &baJson);
Reply errorReply(int iStatus, const QByteArray &baMessage);

// Largest body held in memory at once, for callers that check that streaming stays streaming.
class BufferMeter
{
public:
    void note(qint64 iBytes);
    qint64 peak() const { return iPeak.load(); }

private:
    std::atomic<qint64> iPeak{0};
};

// Bodies produced while sending stop early, and the connection is closed, once bStopping is set.
void writeReply(httplib::Response &res, const Reply &reply, const std::atomic<bool> &bStopping,
                BufferMeter &meter);

} // namespace devicesim
