#ifndef KESTROLCTL_BATCH_H
#define KESTROLCTL_BATCH_H

#include "requestplan.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>

class PluginHost;
class QEventLoop;

// What became of one request.
struct Outcome
{
    PlannedRequest request;
    QString sUuid;
    bool bAnswered = false;
    int iCode = -1;
    QVariantList lResult;
    qint64 iElapsedMs = 0;
    int iProgress = -1;  // highest percentage reported, -1 before any
    QString sLocalError; // the answer arrived but its result could not be stored
};

// Submits requests all at once through the one plugin and waits, in a local event loop, until each is
// answered or the time-out passes. Answers are reported as they arrive; requests still open at the
// time-out stay unanswered.
class Batch : public QObject
{
    Q_OBJECT

public:
    explicit Batch(PluginHost *pHost, QObject *parent = nullptr);

    QList<Outcome> run(const QList<PlannedRequest> &lRequests, int iTimeoutMs);

signals:
    void signal_answered(Outcome outcome);
    // Mean progress in percent over the batch (answered requests count as 100), once some transfer of the
    // batch has been seen part-way through.
    void signal_progress(int iPercent, int iOpen, int iTotal);
    // A plugin log line with the id of the device whose request it names (empty when it names none).
    void signal_log(QString sDeviceId, QString sMessage);

private slots:
    void onApiResponse(QString sUuid, int iError, QVariantList lResult);
    void onProgress(QString sUuid, int iProgress);
    void onLog(QString sMessage);

private:
    PluginHost *pHost;
    QList<Outcome> lOutcomes;
    QHash<QString, int> hIndexByUuid;
    int iOpen = 0;
    // Sum over the batch of each request's share: 100 when answered, else its highest percentage.
    int iProgressSum = 0;
    bool bTransferSeen = false;
    QElapsedTimer elapsed;
    QEventLoop *pLoop = nullptr;
};

#endif // KESTROLCTL_BATCH_H
