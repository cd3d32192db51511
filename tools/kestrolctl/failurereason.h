#ifndef KESTROLCTL_FAILUREREASON_H
#define KESTROLCTL_FAILUREREASON_H

#include <QString>

// Why a request failed, in one curl-style line ("connection refused", "HTTP 404 Not Found").
struct Reason
{
    QString sText;
    bool bRetryable =
        false; // a later attempt may well succeed: connection refused or closed, time-outs, 502-504
    bool bCertificate = false; // the device's certificate is not the pinned one
    int iWeight = 0; // a plugin line that names the cause outweighs Qt's error text, which outweighs none
};

// Reads the reason out of Qt's error text of a failed transfer or socket ("Connection refused").
Reason reasonFromQtError(const QString &sQtText);

// Gathers the plugin's log lines of one request (their "(ID)" already removed) and keeps the weightiest
// reason they give. bUploads: the command's POST is a multipart upload, whose inactivity limit differs.
class FailureReason
{
public:
    explicit FailureReason(bool bUploads = false) : bUploads(bUploads) {}

    void addLogLine(const QString &sLine);
    // The reason for a completion code; a generic one when the lines named none.
    Reason reason(int iCode) const;

private:
    bool bUploads;
    bool bPosting = false; // the request's latest HTTP step is a POST
    Reason best;
};

#endif // KESTROLCTL_FAILUREREASON_H
