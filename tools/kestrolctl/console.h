#ifndef KESTROLCTL_CONSOLE_H
#define KESTROLCTL_CONSOLE_H

#include <QString>

// Standard output and error, plus a progress line on standard error that is drawn only when standard
// error is a terminal and is cleared before any other text appears.
class Console
{
public:
    Console();

    void out(const QString &sText);
    void err(const QString &sText);
    void progress(const QString &sLine);
    void clearProgress();

private:
    bool bInteractive;
    bool bProgressShown = false;
};

#endif // KESTROLCTL_CONSOLE_H
