#include "logging.h"

Q_LOGGING_CATEGORY(lcKestrolNetwork, "kestrol.network", QtInfoMsg)
Q_LOGGING_CATEGORY(lcKestrolEngine, "kestrol.engine", QtInfoMsg)
