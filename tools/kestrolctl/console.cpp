#include "console.h"

#include <cstdio>
#include <unistd.h>

Console::Console() : bInteractive(isatty(STDERR_FILENO) == 1) {}

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
    if (!bInteractive)
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
