#include "figures.h"

#include <cmath>
#include <cstdio>

namespace {

QString number(double dValue, int iPrecision)
{
    return std::isfinite(dValue) ? QString::number(dValue, 'f', iPrecision) : QStringLiteral("-");
}

} // namespace

void FigureTable::ratio(const QString &sName, double dReference, double dPlugin, int iPrecision, double dGoal,
                        bool bHigherBetter, bool bPluginCapped)
{
    Figure figure{sMode, sName, number(dReference, iPrecision), number(dPlugin, iPrecision)};
    // A capped run's figure is a bound: the whole run would have taken longer.
    if (bPluginCapped)
        figure.sPlugin += '+';
    const double dRatio = dReference > 0 ? dPlugin / dReference : qQNaN();
    figure.sRatio = std::isfinite(dRatio) ? number(dRatio, 2) + 'x' : QStringLiteral("-");
    if (dGoal > 0) {
        figure.sGoal =
            (bHigherBetter ? QStringLiteral(">= %1x") : QStringLiteral("<= %1x")).arg(dGoal, 0, 'f', 2);
        const bool bMet = std::isfinite(dRatio) && (bHigherBetter ? dRatio >= dGoal : dRatio <= dGoal);
        figure.verdict = bMet ? Figure::Verdict::Pass : Figure::Verdict::Miss;
    }
    lFigures.append(figure);
}

void FigureTable::bound(const QString &sName, const QString &sReference, double dPlugin, int iPrecision,
                        double dBound, bool bBelowStrictly)
{
    Figure figure{sMode, sName, sReference, number(dPlugin, iPrecision)};
    if (dBound > 0) {
        figure.sGoal = (bBelowStrictly ? QStringLiteral("< %1") : QStringLiteral("<= %1")).arg(dBound);
        const bool bMet = std::isfinite(dPlugin) && (bBelowStrictly ? dPlugin < dBound : dPlugin <= dBound);
        figure.verdict = bMet ? Figure::Verdict::Pass : Figure::Verdict::Miss;
    }
    lFigures.append(figure);
}

void FigureTable::answered(int iRequests, int iReferenceOk, int iPluginOk, int iPluginDuplicates)
{
    Figure figure{sMode, QStringLiteral("answered once, as served"),
                  QStringLiteral("%1/%2").arg(iReferenceOk).arg(iRequests),
                  QStringLiteral("%1/%2").arg(iPluginOk).arg(iRequests)};
    if (iPluginDuplicates > 0)
        figure.sPlugin += QStringLiteral(" %1 dup").arg(iPluginDuplicates);
    figure.sGoal = QStringLiteral("all");
    figure.verdict =
        iPluginOk == iRequests && iPluginDuplicates == 0 ? Figure::Verdict::Pass : Figure::Verdict::Miss;
    lFigures.append(figure);
}

void FigureTable::note(const QString &sName, const QString &sReference, const QString &sPlugin)
{
    lFigures.append(Figure{sMode, sName, sReference, sPlugin});
}

void FigureTable::failed(const QString &sWhat)
{
    Figure figure{sMode, QStringLiteral("run failed: ") + sWhat};
    figure.verdict = Figure::Verdict::Miss;
    lFigures.append(figure);
}

int printFigures(const QList<Figure> &lFigures)
{
    const char *pcFormat = "%-10s %-36s %14s %14s %9s %10s  %s\n";
    std::printf(pcFormat, "mode", "figure", "reference", "plugin", "ratio", "goal", "");
    QString sLastMode;
    int iMissed = 0, iGoals = 0;
    for (const Figure &figure : lFigures) {
        const char *pcVerdict = figure.verdict == Figure::Verdict::Pass   ? "PASS"
                                : figure.verdict == Figure::Verdict::Miss ? "MISS"
                                                                          : "";
        iGoals += figure.verdict != Figure::Verdict::None;
        iMissed += figure.verdict == Figure::Verdict::Miss;
        std::printf(pcFormat, figure.sMode == sLastMode ? "" : qPrintable(figure.sMode),
                    qPrintable(figure.sName), qPrintable(figure.sReference), qPrintable(figure.sPlugin),
                    qPrintable(figure.sRatio), qPrintable(figure.sGoal), pcVerdict);
        sLastMode = figure.sMode;
    }
    if (iGoals > 0)
        std::printf("%d of %d goals met\n", iGoals - iMissed, iGoals);
    return iMissed;
}
