#ifndef KESTROLCTL_CREDENTIALS_H
#define KESTROLCTL_CREDENTIALS_H

#include <QString>

struct CliOptions;

// The password for devices that have none of their own: --password-file (which only its owner may read),
// --password-stdin or --password (at most one of them), else KESTROL_PASSWORD, else a prompt without echo
// on a terminal. False with a one-line message.
bool resolvePassword(const CliOptions &options, const QString &sPrompt, QString *psPassword,
                     QString *psError);

#endif // KESTROLCTL_CREDENTIALS_H
