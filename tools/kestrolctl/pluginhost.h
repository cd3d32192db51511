#ifndef KESTROLCTL_PLUGINHOST_H
#define KESTROLCTL_PLUGINHOST_H

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>

class DeviceApiInterface;
class QPluginLoader;

// Loads the plugin module as a video-management host does: QPluginLoader, a metadata check, the cast
// through the interface id, the four signals connected, initApiPlugin with the plugin's own network access
// manager. The plugin's signals are passed on unchanged. Destroying the host destroys the plugin object;
// the library stays mapped until the process ends.
class PluginHost : public QObject
{
    Q_OBJECT

public:
    explicit PluginHost(QObject *parent = nullptr);
    ~PluginHost() override;

    // sPath: a module file or a directory holding it; empty: beside the executable, then the installed
    // plugin directory. False with a one-line message.
    bool load(const QString &sPath, QString *psError);

    DeviceApiInterface *api() const { return pApi; }
    QString modulePath() const { return sModulePath; }
    QString className() const { return sClassName; }

signals:
    void signal_log(QString sMessage);
    void signal_apiResponse(QString sUuid, int iError, QVariantList lResult);
    void signal_progress(QString sUuid, int iProgress);

private slots:
    void onLog(int iLevel, QString sMessage);
    void onState(QString sDeviceId, int iAuth);

private:
    QPluginLoader *pLoader = nullptr;
    QPointer<QObject> pInstance;
    DeviceApiInterface *pApi = nullptr;
    QString sModulePath;
    QString sClassName;
};

#endif // KESTROLCTL_PLUGINHOST_H
