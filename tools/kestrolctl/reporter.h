#ifndef KESTROLCTL_REPORTER_H
#define KESTROLCTL_REPORTER_H

#include "outcome.h"

#include <QObject>
#include <QString>

class Console;
class Runner;

// Prints outcomes as they arrive: key-value lines for one device, a table line per device for several, or
// one JSON object per device. Results go to standard output, failures to standard error; quiet leaves
// failures only. Also draws the progress bar and, when verbose, the plugin's log lines tagged by device.
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

    struct Settings
    {
        Style style = Style::Fields;
        bool bVerbose = false;
        bool bQuiet = false;
        bool bSeveral = false; // a fleet run: log lines that name no device are left out
    };

    Reporter(Console *pConsole, const Settings &settings, QObject *parent = nullptr);

    // Reports every outcome the runner announces, as well as the progress and the log lines.
    void watch(Runner *pRunner);
    // Only the progress bar, log lines and notes; outcomes are printed by the caller.
    void watchProgress(Runner *pRunner);
    void setDeviceColumnWidth(int iWidth) { iIdWidth = iWidth; }
    void setProgressLabel(const QString &sLabel) { sProgressLabel = sLabel; }

    void printOutcome(const Outcome &outcome);
    // One line on standard error: devices, time, successes and failures by kind. Not printed when quiet.
    void printSummary(const QList<Outcome> &lOutcomes, qint64 iElapsedMs);
    // A remark that is neither a result nor a failure ("recorded the certificate ..."), unless quiet.
    void note(const QString &sText);

private slots:
    void onProgress(int iPercent, int iRunning, int iDone, int iTotal);
    void onLog(QString sDeviceId, QString sMessage);

private:
    Console *pConsole;
    Settings settings;
    int iIdWidth = 0;
    QString sProgressLabel;
};

#endif // KESTROLCTL_REPORTER_H
