#include "pluginhost.h"

#include "deviceapiinterface.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPluginLoader>

namespace {

const QString sModuleFileName = QStringLiteral(KESTROL_PLUGIN_FILE_NAME);
const QString sInterfaceId = QStringLiteral("qtdeviceapiinterfaceid");

QStringList candidatePaths(const QString &sPath)
{
    if (!sPath.isEmpty()) {
        if (QFileInfo(sPath).isDir())
            return {QDir(sPath).absoluteFilePath(sModuleFileName)};
        return {sPath};
    }
    const QDir exeDir(QCoreApplication::applicationDirPath());
    return {exeDir.absoluteFilePath(sModuleFileName),
            QDir::cleanPath(
                exeDir.absoluteFilePath(QStringLiteral(KESTROL_PLUGIN_RELDIR "/") + sModuleFileName))};
}

} // namespace

PluginHost::PluginHost(QObject *parent) : QObject(parent) {}

PluginHost::~PluginHost()
{
    delete pInstance.data();
    delete pLoader;
}

bool PluginHost::load(const QString &sPath, QString *psError)
{
    const QStringList lCandidates = candidatePaths(sPath);
    for (const QString &sCandidate : lCandidates) {
        if (QFileInfo(sCandidate).isFile()) {
            sModulePath = QFileInfo(sCandidate).absoluteFilePath();
            break;
        }
    }
    if (sModulePath.isEmpty()) {
        *psError = QStringLiteral("no plugin module at %1; give --plugin PATH").arg(lCandidates.join(" or "));
        return false;
    }
    pLoader = new QPluginLoader(sModulePath);
    if (!pLoader->load()) {
        *psError = QStringLiteral("cannot load plugin: %1").arg(pLoader->errorString());
        return false;
    }
    const QJsonObject metaData = pLoader->metaData();
    sClassName = metaData.value(QStringLiteral("className")).toString();
    const QString sIid = metaData.value(QStringLiteral("IID")).toString();
    if (sIid != sInterfaceId) {
        *psError = QStringLiteral("%1 is not a device-API plugin (interface id '%2')").arg(sModulePath, sIid);
        return false;
    }
    pInstance = pLoader->instance();
    pApi = qobject_cast<DeviceApiInterface *>(pInstance.data());
    if (!pApi) {
        *psError =
            QStringLiteral("the plugin object of %1 does not implement %2").arg(sModulePath, sInterfaceId);
        return false;
    }
    connect(pApi, &DeviceApiInterface::signal_log, this, &PluginHost::onLog);
    connect(pApi, &DeviceApiInterface::signal_apiResponse, this, &PluginHost::signal_apiResponse);
    connect(pApi, &DeviceApiInterface::signal_state, this, &PluginHost::onState);
    connect(pApi, &DeviceApiInterface::signal_progress, this, &PluginHost::signal_progress);
    pApi->initApiPlugin(nullptr);
    return true;
}

void PluginHost::onLog(int iLevel, QString sMessage)
{
    Q_UNUSED(iLevel)
    emit signal_log(sMessage);
}

void PluginHost::onState(QString sDeviceId, int iAuth)
{
    emit signal_log(QStringLiteral("device %1: authentication state %2").arg(sDeviceId).arg(iAuth));
}
