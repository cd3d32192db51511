// What a host sees of the plugin, and the promises every suite holds it to: each request is answered exactly
// once and never from inside requestApiCommand(), and no log line carries a password, URL user info or an
// Authorization value. Suites call checkInvariants() in cleanup().
#pragma once

#include "deviceapiinterface.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVariantList>

#include <functional>

struct HostAnswer
{
    QString sUuid;
    int iError = -1;
    QVariantList lResult;
};

class HostRecorder : public QObject
{
    Q_OBJECT

public:
    explicit HostRecorder(DeviceApiInterface *pApi);

    // The host calls, through which the recorder learns which secrets must never be logged.
    int createDevice(const QString &sId, const QString &sUrl, const QString &sUser, const QString &sPassword,
                     const QVariantList &lParam = {});
    int changeDevice(const QString &sId, const QString &sUrl, const QString &sUser, const QString &sPassword,
                     const QVariantList &lParam = {});
    QString request(const QString &sDevice, const QString &sCommand, const QVariantList &lParam = {});

    // Waits (bounded) for the request's one answer; an answer with code -1 means none came.
    HostAnswer wait(const QString &sUuid, int iTimeoutMs = 20000);
    bool waitAll(const QStringList &lUuids, int iTimeoutMs = 60000);
    int count(const QString &sUuid) const { return hCounts.value(sUuid); }
    HostAnswer answer(const QString &sUuid) const { return hAnswers.value(sUuid); }
    // The lines that name the request (they end with its identifier in parentheses).
    QStringList lines(const QString &sUuid) const;
    QList<int> progress(const QString &sUuid) const { return hProgress.value(sUuid); }

    void addSecret(const QString &sSecret);
    // Empty when every promise held; otherwise what broke.
    QString invariantViolation() const;

    QStringList lLogs;
    // Host code run inside the plugin's emissions, as a host slot would.
    std::function<void(const QString &)> onLogLine;
    std::function<void(const HostAnswer &)> onAnswerHook;

private:
    void onAnswer(const QString &sUuid, int iError, const QVariantList &lResult);
    void onLog(int iLevel, const QString &sMessage);

    DeviceApiInterface *pApi;
    QHash<QString, HostAnswer> hAnswers;
    QHash<QString, int> hCounts;
    QHash<QString, QList<int>> hProgress;
    QSet<QString> setSubmitted;
    QSet<QString> setSecrets;
    QStringList lViolations;
    int iInsideRequest = 0;
};

#define VERIFY_HOST_INVARIANTS(host)                                                                         \
    do {                                                                                                     \
        const QString sViolation_ = (host).invariantViolation();                                             \
        QVERIFY2(sViolation_.isEmpty(), qPrintable(sViolation_));                                            \
    } while (false)
