#include "failurereason.h"

#include <QHash>
#include <QRegularExpression>

namespace {

constexpr int iQtWeight = 1;
constexpr int iPluginWeight = 2;

// The plugin's inactivity limits, read from the same environment variables with the same defaults.
QString limitText(const char *pcVariable, int iDefaultMs)
{
    bool bOk = false;
    const int iMs = qEnvironmentVariableIntValue(pcVariable, &bOk);
    return QString::number((bOk && iMs > 0 ? iMs : iDefaultMs) / 1000.0) + QStringLiteral(" s");
}

// Standard reason phrases, for the status code that Qt's error text leaves out.
int statusOfPhrase(const QString &sPhrase)
{
    static const QHash<QString, int> hCodes = {
        {"bad request", 400},
        {"unauthorized", 401},
        {"payment required", 402},
        {"forbidden", 403},
        {"not found", 404},
        {"method not allowed", 405},
        {"not acceptable", 406},
        {"request timeout", 408},
        {"conflict", 409},
        {"gone", 410},
        {"length required", 411},
        {"precondition failed", 412},
        {"payload too large", 413},
        {"request entity too large", 413},
        {"uri too long", 414},
        {"unsupported media type", 415},
        {"too many requests", 429},
        {"internal server error", 500},
        {"not implemented", 501},
        {"bad gateway", 502},
        {"service unavailable", 503},
        {"gateway timeout", 504},
    };
    return hCodes.value(sPhrase.trimmed().toLower(), 0);
}

struct LinePattern
{
    QRegularExpression re;
    QString sReason; // %1, %2: the captures
    bool bRetryable;
    bool bCertificate;
};

// One row per line of the plugin that says why a request failed.
const QList<LinePattern> &pluginLines()
{
    static const QList<LinePattern> lPatterns = {
        {QRegularExpression("^Redirect not followed: \\S+ -> (.*)$"), "redirect to %1 not followed", false,
         false},
        {QRegularExpression("^Could not (?:open|write) download file: (.*), (.*)$"), "cannot write %1: %2",
         false, false},
        {QRegularExpression("^Could not open upload file: (.*), (.*)$"), "cannot read %1: %2", false, false},
        {QRegularExpression("^Certificate mismatch: "), "certificate does not match the pin", false, true},
        {QRegularExpression("^Refused download location: (.*)$"),
         "the device named an unusable download location %1", false, false},
        {QRegularExpression("^Not a JPEG image: "), "the answer is not a JPEG image", false, false},
        {QRegularExpression("^Unknown device: (.*)$"), "unknown device %1", false, false},
        {QRegularExpression("^Unsupported device URL: (.*)$"), "unsupported device URL %1", false, false},
        {QRegularExpression("^Missing parameters: (.*)$"), "missing parameters for %1", false, false},
        {QRegularExpression("^Unknown command: (.*)$"), "unknown command %1", false, false},
    };
    return lPatterns;
}

} // namespace

Reason reasonFromQtError(const QString &sQtText)
{
    static const QRegularExpression reStatus(QStringLiteral(" - server replied: (.*)$"));
    const QRegularExpressionMatch status = reStatus.match(sQtText);
    if (status.hasMatch()) {
        const QString sPhrase = status.captured(1).trimmed();
        const int iStatus = statusOfPhrase(sPhrase);
        if (iStatus == 0)
            return {QStringLiteral("HTTP error: %1").arg(sPhrase), false, false, iQtWeight};
        return {QStringLiteral("HTTP %1 %2").arg(iStatus).arg(sPhrase), iStatus >= 502 && iStatus <= 504,
                false, iQtWeight};
    }
    static const QRegularExpression reHost(QStringLiteral("^Host (.*) not found$"));
    const QRegularExpressionMatch host = reHost.match(sQtText);
    if (host.hasMatch())
        return {QStringLiteral("host %1 not found").arg(host.captured(1)), false, false, iQtWeight};
    struct Known
    {
        const char *pcQtPrefix;
        const char *pcReason;
        bool bRetryable;
    };
    static const Known lKnown[] = {
        {"Connection refused", "connection refused", true},
        {"Connection closed", "connection closed by the device", true},
        {"The remote host closed the connection", "connection closed by the device", true},
        {"Remote host closed", "connection closed by the device", true},
        {"Connection reset", "connection reset", true},
        {"Connection timed out", "connection timed out", true},
        {"Socket operation timed out", "connection timed out", true},
        {"SSL handshake failed", "TLS handshake failed", false},
        {"Network unreachable", "network unreachable", true},
    };
    for (const Known &known : lKnown) {
        if (sQtText.startsWith(QLatin1String(known.pcQtPrefix), Qt::CaseInsensitive))
            return {QLatin1String(known.pcReason), known.bRetryable, false, iQtWeight};
    }
    // Qt's end of a transfer it was told to stop; the line that says why comes later and outweighs it.
    if (sQtText == QLatin1String("Operation canceled"))
        return {QStringLiteral("canceled"), false, false, 0};
    return {sQtText, false, false, iQtWeight};
}

void FailureReason::addLogLine(const QString &sLine)
{
    if (sLine.startsWith(QLatin1String("Got new ")))
        bPosting = sLine.startsWith(QLatin1String("Got new post-request"));
    Reason candidate;
    if (sLine.startsWith(QLatin1String("Request timed out: "))) {
        const QString sLimit = bUploads && bPosting ? limitText("KESTROL_UPLOAD_TIMEOUT_MS", 600 * 1000)
                                                    : limitText("KESTROL_TRANSFER_TIMEOUT_MS", 60 * 1000);
        candidate = {QStringLiteral("timed out after %1").arg(sLimit), true, false, iPluginWeight};
    } else if (sLine.startsWith(QLatin1String("Error: "))) {
        static const QRegularExpression reError(QStringLiteral("^Error: \\S+ / (.*)$"));
        const QRegularExpressionMatch match = reError.match(sLine);
        candidate = reasonFromQtError(match.hasMatch() ? match.captured(1) : sLine.mid(7));
    } else {
        for (const LinePattern &pattern : pluginLines()) {
            const QRegularExpressionMatch match = pattern.re.match(sLine);
            if (!match.hasMatch())
                continue;
            // One arg() call for all captures, so that a "%2" inside the first is left alone.
            const int iCaptures = match.lastCapturedIndex();
            const QString sText = iCaptures == 0 ? pattern.sReason
                                  : iCaptures == 1
                                      ? pattern.sReason.arg(match.captured(1))
                                      : pattern.sReason.arg(match.captured(1), match.captured(2));
            candidate = {sText, pattern.bRetryable, pattern.bCertificate, iPluginWeight};
            break;
        }
    }
    if (!candidate.sText.isEmpty() && (best.sText.isEmpty() || candidate.iWeight > best.iWeight))
        best = candidate;
}

Reason FailureReason::reason(int iCode) const
{
    if (iCode == 101)
        return {QStringLiteral("credentials refused"), false, false, iPluginWeight};
    if (!best.sText.isEmpty())
        return best;
    return {QStringLiteral("failed without a reason in the plugin's log (code %1)").arg(iCode), false, false,
            0};
}
