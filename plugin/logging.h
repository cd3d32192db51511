#ifndef KESTROL_LOGGING_H
#define KESTROL_LOGGING_H

#include <QLoggingCategory>

// Diagnostic output beyond the log lines the host receives. Debug messages are off by default; enable
// them with QT_LOGGING_RULES="kestrol.*.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcKestrolNetwork)
Q_DECLARE_LOGGING_CATEGORY(lcKestrolEngine)

#endif // KESTROL_LOGGING_H
