// The measured side of the benchmark: one workload with one client, in a process of its own, which prints
// its result as one line of JSON.
#pragma once

#include <QJsonObject>

int runChild(const QJsonObject &spec);
// Prints the result line and ends the process at once: a capped run leaves thousands of requests in flight,
// and tearing them down would only cost time.
[[noreturn]] void reportAndExit(const QJsonObject &result);
