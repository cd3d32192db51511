#ifndef KESTROLCTL_HELPTEXT_H
#define KESTROLCTL_HELPTEXT_H

#include <QString>

// What --help prints after the options: commands, passwords, files, fleet runs, reasons, exit statuses.
QString helpEpilogue();

#endif // KESTROLCTL_HELPTEXT_H
