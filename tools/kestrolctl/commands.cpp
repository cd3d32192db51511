#include "commands.h"

#include "devicesim.h"
#include "wholefile.h"

#include <QCryptographicHash>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QVariantMap>

namespace {

constexpr int iDemoChannel = 1;

QString sizeText(qint64 iBytes)
{
    return QLocale::c().formattedDataSize(iBytes, 1, QLocale::DataSizeIecFormat);
}

QByteArray fileBytes(const QString &sPath)
{
    QFile file(sPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Demo checks: what is wrong, or nothing.
QString unless(bool bRight, const char *pcProblem)
{
    return bRight ? QString() : QString::fromLatin1(pcProblem);
}

std::function<bool(const PlanInput &, PlannedRequest *, QString *)> planUpload()
{
    return [](const PlanInput &input, PlannedRequest *pRequest, QString *psError) {
        if (!checkUploadFile(input.lArgs.at(0), psError))
            return false;
        pRequest->lParam = {QFileInfo(input.lArgs.at(0)).absoluteFilePath()};
        return true;
    };
}

CommandSpec loginCheck()
{
    CommandSpec spec{
        "login-check", "API_CMD_LOGIN_CHECK", "", 0, 0, "check that the device accepts the credentials"};
    spec.describe = [](const Outcome &) { return Fields{{"login", "credentials accepted"}}; };
    return spec;
}

CommandSpec info()
{
    CommandSpec spec{"info", "API_CMD_GET_CONFIG", "", 0, 0, "firmware version and MAC address"};
    spec.describe = [](const Outcome &outcome) {
        const QVariantMap map = outcome.lResult.value(0).toMap();
        return Fields{{"firmware", map.value("API_FW").toString()}, {"mac", map.value("API_MAC").toString()}};
    };
    spec.demoCheck = [](const DemoContext &, const Outcome &outcome) {
        return unless(!outcome.lResult.value(0).toMap().value("API_FW").toString().isEmpty(),
                      "no firmware version in the answer");
    };
    return spec;
}

CommandSpec counters()
{
    CommandSpec spec{"counters", "API_CMD_AICOUNTER_LIST", "", 0, 0, "names of today's counters"};
    spec.describe = [](const Outcome &outcome) {
        return Fields{
            {"counters", outcome.lResult.isEmpty() ? "(none today)" : stringsOf(outcome.lResult).join(", ")}};
    };
    return spec;
}

CommandSpec counter()
{
    CommandSpec spec{
        "counter",
        "API_CMD_AICOUNTER_GET",
        "NAME|--all RESOLUTION START END",
        4,
        4,
        "values of one counter, or of every counter the device lists (--all); RESOLUTION in "
        "seconds, START and END as \"yyyy-MM-dd hh:mm:ss\"; -o FILE.csv or FILE.jsonl: one table "
        "over every device"};
    spec.output = OutputUse::CounterTable;
    spec.plan = [](const PlanInput &input, PlannedRequest *pRequest, QString *psError) {
        if (input.lArgs.at(0).isEmpty() && !input.bAllCounters) {
            *psError = QStringLiteral("counter NAME is empty");
            return false;
        }
        return planCounterParams(input.lArgs, &pRequest->lParam, psError);
    };
    spec.describe = [](const Outcome &outcome) {
        Fields fields;
        for (const auto &series : outcome.lCounters)
            fields.append({series.first, series.second.isEmpty() ? "(none)" : series.second.join(", ")});
        return fields.isEmpty() ? Fields{{"counters", "(none)"}} : fields;
    };
    spec.demoArgs = [](const DemoContext &context, const DeviceEntry &device) {
        const QString sToday = QDate::currentDate().toString(Qt::ISODate);
        return QStringList{context.latest(device, "counters").lResult.value(0).toString(), "3600",
                           sToday + " 00:00:00", sToday + " 23:59:59"};
    };
    return spec;
}

CommandSpec snapshot()
{
    CommandSpec spec{
        "snapshot",
        "API_CMD_SNAPSHOT",
        "CHANNEL",
        1,
        1,
        "JPEG snapshot of a channel into -o FILE, or <device>-ch<CHANNEL>.jpg in -o DIR (default: the "
        "current directory)"};
    spec.output = OutputUse::Image;
    spec.plan = [](const PlanInput &input, PlannedRequest *pRequest, QString *psError) {
        bool bOk = false;
        const uint iChannel = input.lArgs.at(0).toUInt(&bOk);
        if (!bOk) {
            *psError = QStringLiteral("snapshot CHANNEL '%1': give a channel number").arg(input.lArgs.at(0));
            return false;
        }
        pRequest->lParam = {QString::number(iChannel)};
        const QString sName = QStringLiteral("%1-ch%2.jpg").arg(fileNameStem(pRequest->device)).arg(iChannel);
        return planOutputFile(input.sOutput, sName, input.bSeveral, "-o", &pRequest->sOutputFile, psError);
    };
    spec.keep = [](const Outcome &outcome) {
        QString sError;
        writeWholeFile(outcome.request.sOutputFile, outcome.lResult.value(0).toByteArray(), &sError);
        return sError;
    };
    spec.describe = [](const Outcome &outcome) {
        return Fields{{"file", outcome.request.sOutputFile},
                      {"size", sizeText(outcome.lResult.value(0).toByteArray().size())}};
    };
    spec.demoArgs = [](const DemoContext &, const DeviceEntry &) {
        return QStringList{QString::number(iDemoChannel)};
    };
    spec.demoCheck = [](const DemoContext &context, const Outcome &outcome) {
        return unless(fileBytes(outcome.request.sOutputFile) ==
                          context.pSimulator->snapshotJpeg(iDemoChannel),
                      "the saved JPEG differs from the device's image");
    };
    return spec;
}

CommandSpec settingsSave()
{
    CommandSpec spec{
        "settings-save",
        "API_CMD_SETTINGS_SAVE",
        "[DEST]",
        0,
        1,
        "back up the settings into the file DEST, or <device>_<time>_db.ndb in the directory DEST "
        "(default: the current directory)"};
    spec.plan = [](const PlanInput &input, PlannedRequest *pRequest, QString *psError) {
        const QString sName =
            QStringLiteral("%1_%2_db.ndb").arg(fileNameStem(pRequest->device), input.sStamp);
        if (!planOutputFile(input.lArgs.value(0), sName, input.bSeveral, "DEST", &pRequest->sOutputFile,
                            psError))
            return false;
        pRequest->lParam = {pRequest->sOutputFile};
        return true;
    };
    spec.describe = [](const Outcome &outcome) {
        const QString sFile = outcome.lResult.value(0).toString();
        return Fields{{"file", sFile}, {"size", sizeText(QFileInfo(sFile).size())}};
    };
    spec.demoArgs = [](const DemoContext &context, const DeviceEntry &) {
        return QStringList{context.sOutputDir};
    };
    spec.demoCheck = [](const DemoContext &context, const Outcome &outcome) {
        return unless(fileBytes(outcome.lResult.value(0).toString()) ==
                          context.pSimulator->settings(outcome.request.device.sId),
                      "the backup differs from the device's settings");
    };
    return spec;
}

CommandSpec settingsLoad()
{
    CommandSpec spec{
        "settings-load", "API_CMD_SETTINGS_LOAD", "FILE", 1, 1, "restore the settings from FILE"};
    spec.bUploads = true;
    spec.plan = planUpload();
    spec.describe = [](const Outcome &outcome) {
        return Fields{{"loaded", outcome.request.lParam.value(0).toString()}};
    };
    spec.demoArgs = [](const DemoContext &context, const DeviceEntry &device) {
        return QStringList{context.latest(device, "settings-save").lResult.value(0).toString()};
    };
    spec.demoCheck = [](const DemoContext &context, const Outcome &outcome) {
        return unless(context.pSimulator->settings(outcome.request.device.sId) ==
                          fileBytes(outcome.request.lParam.value(0).toString()),
                      "the device holds other settings than the file");
    };
    return spec;
}

CommandSpec firmwareUpdate()
{
    CommandSpec spec{"firmware-update",
                     "API_CMD_FIRMWARE_UPDATE",
                     "FILE",
                     1,
                     1,
                     "upload the firmware image FILE; --verify, --canary K: see Fleet runs"};
    spec.bUploads = true;
    spec.bVerifies = true;
    spec.plan = planUpload();
    spec.describe = [](const Outcome &outcome) {
        const QString sImage = outcome.request.lParam.value(0).toString();
        Fields fields{
            {"uploaded", QStringLiteral("%1 (%2)").arg(sImage, sizeText(QFileInfo(sImage).size()))}};
        if (!outcome.sFirmwareAfter.isEmpty())
            fields.append({"firmware", outcome.sFirmwareBefore + " -> " + outcome.sFirmwareAfter});
        return fields;
    };
    spec.demoArgs = [](const DemoContext &context, const DeviceEntry &) {
        return QStringList{context.sFirmwarePath};
    };
    spec.demoCheck = [](const DemoContext &context, const Outcome &outcome) {
        const QByteArray baSha256 =
            QCryptographicHash::hash(fileBytes(context.sFirmwarePath), QCryptographicHash::Sha256).toHex();
        return unless(context.pSimulator->firmware(outcome.request.device.sId).sha256Hex == baSha256,
                      "the device received another image");
    };
    return spec;
}

CommandSpec restart()
{
    CommandSpec spec{"restart", "API_CMD_RESTART", "", 0, 0, "reboot the device"};
    spec.describe = [](const Outcome &) { return Fields{{"restart", "requested"}}; };
    spec.demoCheck = [](const DemoContext &context, const Outcome &outcome) {
        return unless(context.pSimulator->rebootCount(outcome.request.device.sId) == 1,
                      "the device did not reboot");
    };
    return spec;
}

CommandSpec reset()
{
    CommandSpec spec{"reset", "API_CMD_RESET_SOFT", "", 0, 0, "reset the device to factory defaults"};
    spec.describe = [](const Outcome &) { return Fields{{"factory reset", "requested"}}; };
    spec.demoCheck = [](const DemoContext &context, const Outcome &outcome) {
        return unless(context.pSimulator->factoryResetCount(outcome.request.device.sId) == 1,
                      "the device was not reset");
    };
    return spec;
}

} // namespace

void DemoContext::remember(const Outcome &outcome)
{
    hLatest.insert(key(outcome.request.device, outcome.request.pSpec->sName), outcome);
}

const QList<CommandSpec> &commandTable()
{
    static const QList<CommandSpec> lCommands = {
        loginCheck(),   info(),         counters(),       counter(), snapshot(),
        settingsSave(), settingsLoad(), firmwareUpdate(), restart(), reset()};
    return lCommands;
}

const CommandSpec *findCommand(const QString &sName)
{
    for (const CommandSpec &spec : commandTable()) {
        if (spec.sName == sName || spec.sApiName == sName)
            return &spec;
    }
    return nullptr;
}

bool checkArgumentCount(const CommandSpec &spec, int iCount, QString *psError)
{
    if (iCount >= spec.iMinArgs && iCount <= spec.iMaxArgs)
        return true;
    const QString sUsage = spec.sArgs.isEmpty() ? spec.sName : spec.sName + ' ' + spec.sArgs;
    if (spec.iMaxArgs == 0)
        *psError = QStringLiteral("%1 takes no arguments").arg(spec.sName);
    else if (iCount < spec.iMinArgs)
        *psError = QStringLiteral("missing arguments; usage: %1").arg(sUsage);
    else
        *psError = QStringLiteral("too many arguments; usage: %1").arg(sUsage);
    return false;
}
