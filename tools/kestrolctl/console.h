#ifndef KESTROLCTL_CONSOLE_H
#define KESTROLCTL_CONSOLE_H

#include <QString>

// Standard output and error, plus a progress line on standard error. The line is the only text with
// terminal escape codes, so it is drawn only on a terminal that understands them (not TERM=dumb) and when
// NO_COLOR is unset, and it is cleared before any other text appears.
class Console
{
public:
    Console();

    void setProgressWanted(bool bWanted);
    void out(const QString &sText);
    void err(const QString &sText);
    void progress(const QString &sLine);
    void clearProgress();

private:
    bool bTerminal;
    bool bProgressWanted = true;
    bool bProgressShown = false;
};

#endif // KESTROLCTL_CONSOLE_H
