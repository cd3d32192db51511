// What a host sees of a plugin: every answer and every log line, in arrival order. Connected through the
// signal signatures only, as a host that knows nothing but the interface header would be.
#pragma once

#include "deviceapiinterface.h"

#include <QObject>
#include <QStringList>
#include <QTest>
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
    explicit HostRecorder(DeviceApiInterface *pApi)
    {
        connect(pApi, SIGNAL(signal_apiResponse(QString, int, QVariantList)), this,
                SLOT(onAnswer(QString, int, QVariantList)));
        connect(pApi, SIGNAL(signal_log(int, QString)), this, SLOT(onLog(int, QString)));
    }

    int count(const QString &sUuid) const
    {
        int iCount = 0;
        for (const HostAnswer &answer : lAnswers)
            iCount += answer.sUuid == sUuid ? 1 : 0;
        return iCount;
    }

    HostAnswer answer(const QString &sUuid) const
    {
        for (const HostAnswer &answer : lAnswers) {
            if (answer.sUuid == sUuid)
                return answer;
        }
        return {};
    }

    bool waitFor(const QString &sUuid, int iTimeoutMs = 15000)
    {
        return QTest::qWaitFor([&] { return count(sUuid) > 0; }, iTimeoutMs);
    }

    // The lines that are not the transport's own (those end with the request identifier in parentheses).
    QStringList engineLines(const QString &sUuid) const
    {
        QStringList lLines;
        const QString sSuffix = QStringLiteral("(%1)").arg(sUuid);
        for (const QString &sLine : lLogs) {
            if (!sLine.endsWith(sSuffix))
                lLines << sLine;
        }
        return lLines;
    }

    QList<HostAnswer> lAnswers;
    QStringList lLogs;
    // Host code run inside the plugin's emissions, as a host slot would.
    std::function<void(const QString &)> onLogLine;
    std::function<void(const HostAnswer &)> onAnswerHook;

private slots:
    void onAnswer(QString sUuid, int iError, QVariantList lResult)
    {
        const HostAnswer answer{sUuid, iError, lResult};
        lAnswers.append(answer);
        if (onAnswerHook)
            onAnswerHook(answer);
    }
    void onLog(int, QString sMessage)
    {
        lLogs.append(sMessage);
        if (onLogLine)
            onLogLine(sMessage);
    }
};
