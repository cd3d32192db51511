#include "requestplan.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

const QString sCounterTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

namespace {

bool isWritableDirectory(const QString &sPath)
{
    const QFileInfo info(sPath);
    return info.isDir() && info.isWritable();
}

} // namespace

QString fileTimeStamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmsszzz"));
}

QString fileNameStem(const DeviceEntry &device)
{
    QString sName = device.sId;
    sName.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    return sName;
}

bool checkUploadFile(const QString &sPath, QString *psError)
{
    const QFileInfo info(sPath);
    if (!info.exists())
        *psError = QStringLiteral("file %1 does not exist").arg(sPath);
    else if (!info.isFile() || !info.isReadable())
        *psError = QStringLiteral("cannot read %1").arg(sPath);
    else if (info.size() == 0)
        *psError = QStringLiteral("file %1 is empty").arg(sPath);
    return psError->isEmpty();
}

bool planOutputFile(const QString &sTarget, const QString &sDefaultName, bool bSeveral, const char *pcWhat,
                    QString *psFile, QString *psError)
{
    const QString sPath = sTarget.isEmpty() ? QDir::currentPath() : sTarget;
    const QFileInfo info(sPath);
    if (info.isDir()) {
        if (!info.isWritable()) {
            *psError = QStringLiteral("directory %1 is not writable").arg(sPath);
            return false;
        }
        *psFile = QDir(sPath).absoluteFilePath(sDefaultName);
        return true;
    }
    if (bSeveral) {
        *psError =
            QStringLiteral("with several devices %1 must be an existing directory: %2").arg(pcWhat, sPath);
        return false;
    }
    if ((info.exists() && (!info.isFile() || !info.isWritable())) ||
        !isWritableDirectory(info.absolutePath())) {
        *psError = QStringLiteral("cannot write %1").arg(sPath);
        return false;
    }
    *psFile = info.absoluteFilePath();
    return true;
}

bool planCounterParams(const QStringList &lArgs, QVariantList *plParam, QString *psError)
{
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
            *psError = QStringLiteral("counter %1 '%2': expected \"%3\"")
                           .arg(i == 0 ? "START" : "END", lArgs.at(2 + i), sCounterTimeFormat);
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

bool checkDistinctOutputs(const QList<PlannedRequest> &lRequests, QString *psError)
{
    QHash<QString, QString> hWriter;
    for (const PlannedRequest &request : lRequests) {
        if (request.sOutputFile.isEmpty())
            continue;
        const QString sFile = QFileInfo(request.sOutputFile).absoluteFilePath();
        const auto it = hWriter.constFind(sFile);
        if (it != hWriter.constEnd()) {
            *psError = QStringLiteral("devices '%1' and '%2' would both write %3")
                           .arg(*it, request.device.sId, sFile);
            return false;
        }
        hWriter.insert(sFile, request.device.sId);
    }
    return true;
}
