#ifndef CERTIFICATEPIN_H
#define CERTIFICATEPIN_H

#include <QString>
#include <QVariant>

// The SHA-256 fingerprint a host expects of a device's certificate or public key.
namespace CertificatePin {

// Reads a pin as hosts write it: 64 hex digits in any letter case, either unbroken or as 32 pairs joined
// by ':', optionally after "sha256:" (in any letter case), with surrounding white space ignored. On
// success psPin holds the 64 digits in lower case, or is empty for an empty or null value (no pin).
// False for anything else, including a value that is not text.
bool parse(const QVariant &value, QString *psPin);

} // namespace CertificatePin

#endif // CERTIFICATEPIN_H
