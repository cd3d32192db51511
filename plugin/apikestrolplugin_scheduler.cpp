#include "apikestrolplugin.h"

// Placeholder until the scheduler lands.
void ApiKestrolPlugin::onTimer() {}
