// The module as a host holds it: loaded through QPluginLoader, cast through the interface id, and its signals
// recorded. load() in init() gives each test a fresh instance; cleanup() checks the recorder's promises and
// then unload()s.
#pragma once

#include "hostrecorder.h"

#include <QPluginLoader>
#include <QPointer>
#include <QRegularExpression>

#include <memory>

struct LoadedPlugin
{
    QPluginLoader loader{QStringLiteral(KESTROL_PLUGIN_PATH)};
    QPointer<QObject> pInstance;
    DeviceApiInterface *pApi = nullptr;
    std::unique_ptr<HostRecorder> pHost;

    // False when the module gave no instance of the interface (loader.errorString() says why).
    bool load()
    {
        unload();
        pInstance = loader.instance();
        pApi = qobject_cast<DeviceApiInterface *>(pInstance.data());
        pHost = pApi ? std::make_unique<HostRecorder>(pApi) : nullptr;
        return pApi != nullptr;
    }
    // Destroys the instance as a host does; the recorder keeps what it saw, but no more host code runs.
    void unload()
    {
        if (pHost) {
            pHost->onLogLine = nullptr;
            pHost->onAnswerHook = nullptr;
        }
        delete pInstance.data();
        pApi = nullptr;
    }
};

// The lines that name no request: reply bodies and the summaries the plugin draws from them.
inline QStringList unnamedLines(const HostRecorder &host)
{
    static const QRegularExpression named(QStringLiteral("\\(\\{[0-9a-f-]{36}\\}\\)$"));
    QStringList lLines;
    for (const QString &sLine : host.lLogs) {
        if (!named.match(sLine).hasMatch())
            lLines.append(sLine);
    }
    return lLines;
}
