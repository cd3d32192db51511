// Every request the soak submitted and every answer it got, from either submitting thread.
#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QVariantList>
#include <QVector>

#include <functional>

class Ledger
{
public:
    struct Entry
    {
        int iKind = 0;
        bool bOneElement = false; // the answer must hold exactly one element
        bool bBackup = false;     // a successful answer names a backup file
        bool bThread = false;     // submitted by the second thread
    };

    // Per kind, the completion codes it may be answered with (ChaosPlan::Kind::iAllowed).
    explicit Ledger(QVector<int> vAllowedCodes);

    // Unless iLimit requests were submitted or iWindow are outstanding: calls pSubmit (which returns the
    // request identifier) and enters the request, with no answer accounted for in between.
    bool submit(int iLimit, int iWindow, const std::function<QString()> &pSubmit, const Entry &entry);
    // Accounts for an answer; returns the backup file to remove, if any.
    QString answer(const QString &sUuid, int iCode, const QVariantList &lResult);
    // What is outstanding now counts as never answered.
    void markMissing();
    // From now on the plugin is gone: what is outstanding was abandoned, and every answer is one too many.
    void tearDown();

    int outstanding() const;
    int submitted() const;
    int submittedByThread() const;

    struct Figures
    {
        int iSubmitted = 0, iByThread = 0, iAnsweredOnce = 0, iDuplicates = 0, iMissing = 0;
        int iUnexpectedCodes = 0, iBadShapes = 0, iAfterTeardown = 0;
        // Per kind: answers with 0, 101, 103 and any other code.
        QVector<QVector<int>> vCodes;
    };
    Figures figures() const;

private:
    const QVector<int> vAllowed;
    mutable QMutex mutex;
    QHash<QString, Entry> hOutstanding;
    Figures counts;
    bool bTornDown = false;
};
