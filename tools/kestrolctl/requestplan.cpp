#include "requestplan.h"

#include "commands.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

const QString sCounterTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

QString fileNameSafe(const QString &sId)
{
    QString sName = sId;
    sName.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    return sName;
}

bool isWritableDirectory(const QString &sPath)
{
    const QFileInfo info(sPath);
    return info.isDir() && info.isWritable();
}

// A file that may be created or replaced: its directory exists and is writable, and it is no directory.
bool checkOutputFile(const QString &sPath, QString *psError)
{
    const QFileInfo info(sPath);
    if (info.exists() && (!info.isFile() || !info.isWritable())) {
        *psError = QStringLiteral("cannot write %1").arg(sPath);
        return false;
    }
    if (!isWritableDirectory(info.absolutePath())) {
        *psError = QStringLiteral("cannot write %1: directory %2 does not exist or is not writable")
                       .arg(sPath, info.absolutePath());
        return false;
    }
    return true;
}

bool checkInputFile(const QString &sPath, QString *psError)
{
    const QFileInfo info(sPath);
    if (!info.exists()) {
        *psError = QStringLiteral("file %1 does not exist").arg(sPath);
        return false;
    }
    if (!info.isFile() || !info.isReadable()) {
        *psError = QStringLiteral("cannot read %1").arg(sPath);
        return false;
    }
    return true;
}

bool planSettingsSave(const QString &sDest, const DeviceEntry &device, bool bSeveral, QVariantList *plParam,
                      QString *psError)
{
    const QString sDir = sDest.isEmpty() ? QDir::currentPath() : sDest;
    if (bSeveral) {
        // Several devices finish within the same millisecond, so each file carries its device's id.
        if (!isWritableDirectory(sDir)) {
            *psError = QStringLiteral("with several devices DEST must be a writable directory: %1").arg(sDir);
            return false;
        }
        const QString sStamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmsszzz"));
        plParam->append(QDir(sDir).absoluteFilePath(
            QStringLiteral("%1_%2_db.ndb").arg(fileNameSafe(device.sId), sStamp)));
        return true;
    }
    if (QFileInfo(sDir).isDir()) {
        if (!isWritableDirectory(sDir)) {
            *psError = QStringLiteral("directory %1 is not writable").arg(sDir);
            return false;
        }
    } else if (!checkOutputFile(sDir, psError)) {
        return false;
    }
    if (!sDest.isEmpty())
        plParam->append(QFileInfo(sDest).absoluteFilePath());
    return true;
}

bool planCounter(const QStringList &lArgs, QVariantList *plParam, QString *psError)
{
    if (lArgs.at(0).isEmpty()) {
        *psError = QStringLiteral("counter NAME is empty");
        return false;
    }
    bool bOk = false;
    const int iResolution = lArgs.at(1).toInt(&bOk);
    if (!bOk || iResolution <= 0) {
        *psError =
            QStringLiteral("counter RESOLUTION '%1': give a number of seconds above 0").arg(lArgs.at(1));
        return false;
    }
    QDateTime lTimes[2];
    for (int i = 0; i < 2; ++i) {
        lTimes[i] = QDateTime::fromString(lArgs.at(2 + i), sCounterTimeFormat);
        if (!lTimes[i].isValid()) {
            *psError = QStringLiteral("counter %1 '%2': expected \"yyyy-MM-dd hh:mm:ss\"")
                           .arg(i == 0 ? "START" : "END", lArgs.at(2 + i));
            return false;
        }
    }
    if (lTimes[1] < lTimes[0]) {
        *psError = QStringLiteral("counter END lies before START");
        return false;
    }
    *plParam = {lArgs.at(0), QString::number(iResolution), lTimes[0].toString(sCounterTimeFormat),
                lTimes[1].toString(sCounterTimeFormat)};
    return true;
}

bool planSnapshot(const QString &sChannel, const QString &sOutput, const DeviceEntry &device, bool bSeveral,
                  PlannedRequest *pRequest, QString *psError)
{
    bool bOk = false;
    const uint iChannel = sChannel.toUInt(&bOk);
    if (!bOk) {
        *psError = QStringLiteral("snapshot CHANNEL '%1': give a channel number").arg(sChannel);
        return false;
    }
    pRequest->lParam = {QString::number(iChannel)};
    const QString sTarget = sOutput.isEmpty() ? QDir::currentPath() : sOutput;
    if (QFileInfo(sTarget).isDir()) {
        if (!isWritableDirectory(sTarget)) {
            *psError = QStringLiteral("directory %1 is not writable").arg(sTarget);
            return false;
        }
        pRequest->sOutputFile = QDir(sTarget).absoluteFilePath(
            QStringLiteral("%1-ch%2.jpg").arg(fileNameSafe(device.sId)).arg(iChannel));
        return true;
    }
    if (bSeveral) {
        *psError = QStringLiteral("with several devices -o must be an existing directory: %1").arg(sTarget);
        return false;
    }
    if (!checkOutputFile(sTarget, psError))
        return false;
    pRequest->sOutputFile = QFileInfo(sTarget).absoluteFilePath();
    return true;
}

} // namespace

bool planRequest(const CommandEntry &entry, const QStringList &lArgs, const QString &sOutput,
                 const DeviceEntry &device, bool bSeveral, PlannedRequest *pRequest, QString *psError)
{
    if (!checkArgumentCount(entry, lArgs.size(), psError))
        return false;
    pRequest->device = device;
    pRequest->pEntry = &entry;
    pRequest->lParam.clear();
    pRequest->sOutputFile.clear();
    const QString &sApi = entry.sApiName;
    if (!sOutput.isEmpty() && sApi != QLatin1String("API_CMD_SNAPSHOT")) {
        *psError = QStringLiteral("-o applies to snapshot only (settings-save takes DEST as its argument)");
        return false;
    }
    if (sApi == QLatin1String("API_CMD_SETTINGS_SAVE"))
        return planSettingsSave(lArgs.value(0), device, bSeveral, &pRequest->lParam, psError);
    if (sApi == QLatin1String("API_CMD_SETTINGS_LOAD") || sApi == QLatin1String("API_CMD_FIRMWARE_UPDATE")) {
        if (!checkInputFile(lArgs.at(0), psError))
            return false;
        pRequest->lParam = {QFileInfo(lArgs.at(0)).absoluteFilePath()};
        return true;
    }
    if (sApi == QLatin1String("API_CMD_AICOUNTER_GET"))
        return planCounter(lArgs, &pRequest->lParam, psError);
    if (sApi == QLatin1String("API_CMD_SNAPSHOT"))
        return planSnapshot(lArgs.at(0), sOutput, device, bSeveral, pRequest, psError);
    return true;
}
