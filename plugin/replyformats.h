#ifndef REPLYFORMATS_H
#define REPLYFORMATS_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// What the engine reads from device reply bodies. Pure functions of the bytes: a body that is not what a
// command expects gives empty values, never an error.
namespace ReplyFormats {

// The body up to its first zero byte, as UTF-8.
QString bodyText(const QByteArray &baBody);

// Device information: {"API_FW": "swver", "API_MAC": "mac"}; a missing or non-string value is empty.
QVariantMap deviceInfo(const QByteArray &baBody);

// The "url" string of a settings export reply; empty when missing or not a string.
QString exportLocation(const QByteArray &baBody);

struct CounterValues
{
    bool bArray = false; // the body text is a JSON array
    QStringList lValues; // decimal integers, "0" for a value that is not one
};
// Values of the named counter in the first element of the body text's array, in the device's order.
CounterValues counterValues(const QByteArray &baBody, const QString &sCounter);

// Member names of the first element of the body text's array, ascending, without the time member
// ("datetime" or "timestamp" in any letter case).
QStringList counterNames(const QByteArray &baBody);

// Starts with the JPEG start-of-image marker and the first segment's marker byte (FF D8 FF).
bool isJpeg(const QByteArray &baBody);

} // namespace ReplyFormats

#endif // REPLYFORMATS_H
