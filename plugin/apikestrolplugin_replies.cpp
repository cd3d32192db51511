#include "apikestrolplugin.h"

// Placeholder until reply dispatch lands.
void ApiKestrolPlugin::onRequestFinished(QString, QByteArray, int, QString) {}
