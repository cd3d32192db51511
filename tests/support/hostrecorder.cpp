#include "hostrecorder.h"

#include <QRegularExpression>
#include <QTest>
#include <QUrl>

#include <algorithm>

HostRecorder::HostRecorder(DeviceApiInterface *pApi) : pApi(pApi)
{
    connect(pApi, &DeviceApiInterface::signal_apiResponse, this, &HostRecorder::onAnswer);
    connect(pApi, &DeviceApiInterface::signal_log, this, &HostRecorder::onLog);
    connect(pApi, &DeviceApiInterface::signal_progress, this,
            [this](const QString &sUuid, int iProgress) { hProgress[sUuid].append(iProgress); });
}

int HostRecorder::createDevice(const QString &sId, const QString &sUrl, const QString &sUser,
                               const QString &sPassword, const QVariantList &lParam)
{
    addSecret(sPassword);
    addSecret(QUrl(sUrl).password());
    return pApi->createDevice(sId, sUrl, sUser, sPassword, lParam);
}

int HostRecorder::changeDevice(const QString &sId, const QString &sUrl, const QString &sUser,
                               const QString &sPassword, const QVariantList &lParam)
{
    addSecret(sPassword);
    addSecret(QUrl(sUrl).password());
    return pApi->changeDevice(sId, sUrl, sUser, sPassword, lParam);
}

QString HostRecorder::request(const QString &sDevice, const QString &sCommand, const QVariantList &lParam)
{
    ++iInsideRequest;
    const QString sUuid = pApi->requestApiCommand(sDevice, sCommand, lParam);
    --iInsideRequest;
    setSubmitted.insert(sUuid);
    return sUuid;
}

HostAnswer HostRecorder::wait(const QString &sUuid, int iTimeoutMs)
{
    // A request with no answer in time comes back with code -1, which no row expects.
    if (!QTest::qWaitFor([&] { return hCounts.contains(sUuid); }, iTimeoutMs))
        return HostAnswer{sUuid, -1, {}};
    return hAnswers.value(sUuid);
}

bool HostRecorder::waitAll(const QStringList &lUuids, int iTimeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            return std::all_of(lUuids.cbegin(), lUuids.cend(),
                               [&](const QString &sUuid) { return hCounts.contains(sUuid); });
        },
        iTimeoutMs);
}

QStringList HostRecorder::lines(const QString &sUuid) const
{
    const QString sSuffix = QStringLiteral("(%1)").arg(sUuid);
    QStringList lResult;
    for (const QString &sLine : lLogs) {
        if (sLine.endsWith(sSuffix))
            lResult.append(sLine);
    }
    return lResult;
}

// Short secrets would match ordinary words and numbers; the suites use passwords of six characters or more.
void HostRecorder::addSecret(const QString &sSecret)
{
    if (sSecret.size() >= 6)
        setSecrets.insert(sSecret);
}

QString HostRecorder::invariantViolation() const
{
    QStringList lProblems = lViolations;
    for (auto it = hCounts.cbegin(); it != hCounts.cend(); ++it) {
        if (it.value() > 1)
            lProblems.append(QStringLiteral("answered %1 times: %2").arg(it.value()).arg(it.key()));
    }
    return lProblems.join(QLatin1Char('\n'));
}

void HostRecorder::onAnswer(const QString &sUuid, int iError, const QVariantList &lResult)
{
    if (iInsideRequest > 0)
        lViolations.append(QStringLiteral("answered from inside requestApiCommand: %1").arg(sUuid));
    if (!setSubmitted.contains(sUuid) && iInsideRequest == 0)
        lViolations.append(QStringLiteral("answer for a request never submitted here: %1").arg(sUuid));
    const HostAnswer answer{sUuid, iError, lResult};
    hAnswers.insert(sUuid, answer);
    ++hCounts[sUuid];
    if (onAnswerHook)
        onAnswerHook(answer);
}

void HostRecorder::onLog(int iLevel, const QString &sMessage)
{
    static const QRegularExpression userInfo(QStringLiteral("[A-Za-z][A-Za-z0-9+.-]*://[^/\\s@]*@"));
    if (iLevel != 0)
        lViolations.append(QStringLiteral("log level %1: %2").arg(iLevel).arg(sMessage));
    if (sMessage.contains(QLatin1Char('\n')) || sMessage.contains(QLatin1Char('\r')))
        lViolations.append(QStringLiteral("line break in a log line: %1").arg(sMessage));
    if (sMessage.contains(userInfo) || sMessage.contains(QLatin1String("Authorization"), Qt::CaseInsensitive))
        lViolations.append(QStringLiteral("credentials in a log line: %1").arg(sMessage));
    for (const QString &sSecret : setSecrets) {
        if (sMessage.contains(sSecret))
            lViolations.append(QStringLiteral("a password in a log line: %1").arg(sMessage));
    }
    lLogs.append(sMessage);
    if (onLogLine)
        onLogLine(sMessage);
}
