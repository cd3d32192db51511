#include "password.h"

#include <QtGlobal>

#include <cstdio>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

QString promptWithoutEcho(const QString &sPrompt)
{
    std::fputs(qPrintable(sPrompt), stderr);
    std::fflush(stderr);
    termios saved{};
    const bool bTerminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (bTerminal) {
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    std::string sLine;
    std::getline(std::cin, sLine);
    if (bTerminal)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
    return QString::fromStdString(sLine);
}

} // namespace

QString passwordFromEnvironmentOrPrompt(const QString &sPrompt, bool *pbFound)
{
    *pbFound = true;
    if (qEnvironmentVariableIsSet("KESTROL_PASSWORD"))
        return qEnvironmentVariable("KESTROL_PASSWORD");
    if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO))
        return promptWithoutEcho(sPrompt);
    *pbFound = false;
    return QString();
}
