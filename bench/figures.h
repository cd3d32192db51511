// The benchmark's table: each figure of the plugin next to the reference's, their ratio, the goal, and
// whether the plugin meets it.
#pragma once

#include <QList>
#include <QString>

struct Figure
{
    enum class Verdict
    {
        None,
        Pass,
        Miss
    };
    Figure(QString sModeIn, QString sNameIn, QString sReferenceIn = {}, QString sPluginIn = {})
        : sMode(std::move(sModeIn)), sName(std::move(sNameIn)), sReference(std::move(sReferenceIn)),
          sPlugin(std::move(sPluginIn))
    {
    }
    QString sMode;
    QString sName;
    QString sReference;
    QString sPlugin;
    QString sRatio;
    QString sGoal;
    Verdict verdict = Verdict::None;
};

class FigureTable
{
public:
    explicit FigureTable(QString sMode) : sMode(std::move(sMode)) {}

    // A figure compared as plugin/reference. dGoal 0: reported only; bHigherBetter says which side passes.
    void ratio(const QString &sName, double dReference, double dPlugin, int iPrecision, double dGoal,
               bool bHigherBetter, bool bPluginCapped = false);
    // A figure of the plugin alone against an absolute bound (dBound 0: reported only).
    void bound(const QString &sName, const QString &sReference, double dPlugin, int iPrecision, double dBound,
               bool bBelowStrictly = false);
    // Every request answered exactly once, as the device serves it.
    void answered(int iRequests, int iReferenceOk, int iPluginOk, int iPluginDuplicates);
    // A line of facts without a verdict.
    void note(const QString &sName, const QString &sReference = {}, const QString &sPlugin = {});
    void failed(const QString &sWhat);

    const QList<Figure> &figures() const { return lFigures; }

private:
    QString sMode;
    QList<Figure> lFigures;
};

// Prints the table and returns the number of missed goals.
int printFigures(const QList<Figure> &lFigures);
