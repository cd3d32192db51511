#include "console.h"

#include <QtGlobal>

#include <cstdio>
#include <unistd.h>

Console::Console()
    : bTerminal(isatty(STDERR_FILENO) == 1 && qEnvironmentVariable("TERM") != QLatin1String("dumb") &&
                !qEnvironmentVariableIsSet("NO_COLOR"))
{
}

void Console::setProgressWanted(bool bWanted)
{
    bProgressWanted = bWanted;
}

void Console::out(const QString &sText)
{
    clearProgress();
    std::fputs(sText.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void Console::err(const QString &sText)
{
    clearProgress();
    std::fputs(sText.toUtf8().constData(), stderr);
    std::fflush(stderr);
}

void Console::progress(const QString &sLine)
{
    if (!bTerminal || !bProgressWanted)
        return;
    std::fprintf(stderr, "\r\033[K%s", sLine.toUtf8().constData());
    std::fflush(stderr);
    bProgressShown = true;
}

void Console::clearProgress()
{
    if (!bProgressShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    bProgressShown = false;
}
