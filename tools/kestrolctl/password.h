#ifndef KESTROLCTL_PASSWORD_H
#define KESTROLCTL_PASSWORD_H

#include <QString>

// The password when --password was not given: the environment variable KESTROL_PASSWORD, else a prompt
// on the terminal without echo. *pbFound is false when neither is available (no variable, no terminal).
QString passwordFromEnvironmentOrPrompt(const QString &sPrompt, bool *pbFound);

#endif // KESTROLCTL_PASSWORD_H
