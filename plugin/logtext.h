#ifndef KESTROL_LOGTEXT_H
#define KESTROL_LOGTEXT_H

#include <QString>

class QUrl;

// Text bound for a log line. Log lines reach the host's own log, so a password must never be in one, and
// text that came from a device must not be able to start a line of its own.
namespace LogText {

// The URL without its user info.
QString url(const QUrl &url);
QString url(const QString &sUrl);
// Control characters written as \n, \r, \t or \xNN (C0 and C1), the line and paragraph separators as \u2028
// and \u2029; everything else unchanged.
QString escaped(const QString &sText);
// Free text that may quote URLs (Qt's error strings): user info removed from every URL in it, then escaped.
QString scrubbed(const QString &sText);
// "<sText><sSubject> (<sUuid>)", the form of a line about one request, built in one allocation: QString::arg
// parses its pattern on every call, and every request sends several such lines.
QString requestLine(QLatin1String sText, const QString &sSubject, const QString &sUuid);

} // namespace LogText

#endif // KESTROL_LOGTEXT_H
