#ifndef KESTROLCTL_REPORTER_H
#define KESTROLCTL_REPORTER_H

#include "batch.h"

#include <QObject>
#include <QString>

class Console;

// Prints answers as they arrive: key-value lines for one device, a table line per device for several, or
// one JSON object per answer. Also draws the progress bar and, when verbose, the plugin's log lines.
class Reporter : public QObject
{
    Q_OBJECT

public:
    enum class Style
    {
        Fields,
        Table,
        Json
    };

    Reporter(Console *pConsole, Style style, bool bVerbose, int iTimeoutMs, QObject *parent = nullptr);

    // Reports everything the batch announces from now on.
    void watch(Batch *pBatch);
    // Only the progress bar and the log lines; answers are printed by the caller.
    void watchProgress(Batch *pBatch);
    // Width of the device column of the table.
    void setDeviceColumnWidth(int iWidth) { iIdWidth = iWidth; }
    // Shown beside the progress bar.
    void setProgressLabel(const QString &sLabel) { sProgressLabel = sLabel; }

    void printOutcome(const Outcome &outcome);
    // The requests that got no answer, after a batch has ended.
    void printUnanswered(const QList<Outcome> &lOutcomes);
    // One line: devices, time, successes and failures by kind. Not printed in JSON style.
    void printSummary(const QList<Outcome> &lOutcomes, qint64 iElapsedMs);

private slots:
    void onAnswered(Outcome outcome);
    void onProgress(int iPercent, int iOpen, int iTotal);
    void onLog(QString sDeviceId, QString sMessage);

private:
    Console *pConsole;
    Style style;
    bool bVerbose;
    int iTimeoutMs;
    int iIdWidth = 0;
    QString sProgressLabel;
};

#endif // KESTROLCTL_REPORTER_H
