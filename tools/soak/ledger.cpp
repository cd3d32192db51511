#include "ledger.h"

#include <QMutexLocker>

namespace {

int codeColumn(int iCode)
{
    switch (iCode) {
    case 0:
        return 0;
    case 101:
        return 1;
    case 103:
        return 2;
    default:
        return 3;
    }
}

} // namespace

Ledger::Ledger(QVector<int> vAllowedCodes) : vAllowed(std::move(vAllowedCodes))
{
    counts.vCodes.fill(QVector<int>(4, 0), vAllowed.size());
}

bool Ledger::submit(int iLimit, int iWindow, const std::function<QString()> &pSubmit, const Entry &entry)
{
    QMutexLocker locker(&mutex);
    if (counts.iSubmitted >= iLimit || hOutstanding.size() >= iWindow)
        return false;
    hOutstanding.insert(pSubmit(), entry);
    ++counts.iSubmitted;
    counts.iByThread += entry.bThread;
    return true;
}

QString Ledger::answer(const QString &sUuid, int iCode, const QVariantList &lResult)
{
    QMutexLocker locker(&mutex);
    if (bTornDown) {
        ++counts.iAfterTeardown;
        return QString();
    }
    const auto it = hOutstanding.constFind(sUuid);
    if (it == hOutstanding.constEnd()) {
        ++counts.iDuplicates;
        return QString();
    }
    const Entry entry = *it;
    hOutstanding.erase(it);
    ++counts.iAnsweredOnce;
    const int iColumn = codeColumn(iCode);
    ++counts.vCodes[entry.iKind][iColumn];
    if (iColumn == 3 || !(vAllowed.at(entry.iKind) & (1 << iColumn)))
        ++counts.iUnexpectedCodes;
    if (entry.bOneElement && lResult.size() != 1)
        ++counts.iBadShapes;
    return entry.bBackup && iCode == 0 ? lResult.value(0).toString() : QString();
}

void Ledger::markMissing()
{
    QMutexLocker locker(&mutex);
    counts.iMissing += hOutstanding.size();
    hOutstanding.clear();
}

void Ledger::tearDown()
{
    QMutexLocker locker(&mutex);
    bTornDown = true;
    hOutstanding.clear();
}

int Ledger::outstanding() const
{
    QMutexLocker locker(&mutex);
    return hOutstanding.size();
}

int Ledger::submitted() const
{
    QMutexLocker locker(&mutex);
    return counts.iSubmitted;
}

int Ledger::submittedByThread() const
{
    QMutexLocker locker(&mutex);
    return counts.iByThread;
}

Ledger::Figures Ledger::figures() const
{
    QMutexLocker locker(&mutex);
    Figures figures = counts;
    figures.iMissing += bTornDown ? 0 : hOutstanding.size();
    return figures;
}
