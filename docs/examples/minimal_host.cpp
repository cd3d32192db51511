// A minimal host: loads the plugin, lists its commands and, given a device, asks for its firmware version.
//
//   minimal_host PLUGIN_FILE                      list the commands
//   minimal_host PLUGIN_FILE URL USER PASSWORD    also run API_CMD_GET_CONFIG on the device at URL
#include "deviceapiinterface.h"

#include <QCoreApplication>
#include <QPluginLoader>
#include <QTimer>
#include <QVariantMap>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList lArgs = QCoreApplication::arguments();
    if (lArgs.size() != 2 && lArgs.size() != 5) {
        std::fprintf(stderr, "usage: minimal_host PLUGIN_FILE [URL USER PASSWORD]\n");
        return 2;
    }

    // Load the module and cast its one instance through the interface id.
    QPluginLoader loader(lArgs.at(1));
    auto *pApi = qobject_cast<DeviceApiInterface *>(loader.instance());
    if (!pApi) {
        std::fprintf(stderr, "cannot load plugin: %s\n", qPrintable(loader.errorString()));
        return 1;
    }

    // Connect the signals first; they are emitted from this thread's event loop.
    QString sRequest;
    QObject::connect(pApi, &DeviceApiInterface::signal_log, &app, [](int, const QString &sMessage) {
        std::fprintf(stderr, "log: %s\n", qPrintable(sMessage));
    });
    QObject::connect(pApi, &DeviceApiInterface::signal_progress, &app, [](const QString &, int iPercent) {
        std::fprintf(stderr, "progress: %d%%\n", iPercent);
    });
    QObject::connect(pApi, &DeviceApiInterface::signal_apiResponse, &app,
                     [&](const QString &sUuid, int iError, const QVariantList &lResult) {
                         if (sUuid != sRequest)
                             return;
                         const QVariantMap info = lResult.value(0).toMap();
                         std::printf("code %d, firmware %s, MAC %s\n", iError,
                                     qPrintable(info.value("API_FW").toString()),
                                     qPrintable(info.value("API_MAC").toString()));
                         QCoreApplication::exit(iError == 0 ? 0 : 1);
                     });

    // A null access manager makes the plugin create its own.
    pApi->initApiPlugin(nullptr);
    std::printf("%s %s: %s\n", qPrintable(pApi->getPluginName()), qPrintable(pApi->getVersion()),
                qPrintable(pApi->getCommandList().join(", ")));

    int iExit = 0;
    if (lArgs.size() == 5) {
        // Register the device, then request a command: the identifier comes back at once, the answer later.
        pApi->createDevice("cam-1", lArgs.at(2), lArgs.at(3), lArgs.at(4), {"camera"});
        sRequest = pApi->requestApiCommand("cam-1", "API_CMD_GET_CONFIG", {});
        // Every request is answered, but a host bounds its own wait all the same.
        QTimer::singleShot(120 * 1000, &app, [] { QCoreApplication::exit(4); });
        iExit = app.exec();
    }
    delete pApi; // the host owns the plugin object
    return iExit;
}
