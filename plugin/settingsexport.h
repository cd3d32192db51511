#ifndef SETTINGSEXPORT_H
#define SETTINGSEXPORT_H

#include <QDateTime>
#include <QString>

// Where a settings backup is fetched from and where it is written.
namespace SettingsExport {

// The local destination named by the host as the real absolute path that a write to it reaches: relative
// to the current directory, with "..", "." and symbolic links of its directory resolved. An existing
// directory (or a path ending in "/") comes back with a trailing "/", anything else as a file path; an
// empty name means the current directory.
QString resolveDestination(const QString &sDestination);

// The file to write for a resolved destination: a directory gets the default "<timestamp>_db.ndb" name.
QString filePath(const QString &sResolvedDestination, const QDateTime &dtNow = QDateTime::currentDateTime());

// The download URL for the device's "url" value, or an empty string when it must not be fetched. A path is
// joined to the device's base URL with exactly one "/"; an absolute URL is accepted only when it points at
// the device's own scheme, host and port, so the device's credentials never go to another host.
QString downloadUrl(const QString &sBaseUrl, const QString &sUrlValue);

} // namespace SettingsExport

#endif // SETTINGSEXPORT_H
