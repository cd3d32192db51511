#include "credentials.h"

#include "options.h"

#include <QFile>

#include <cstdio>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString firstLine(const QByteArray &baText)
{
    QByteArray baLine = baText.split('\n').constFirst();
    if (baLine.endsWith('\r'))
        baLine.chop(1);
    return QString::fromUtf8(baLine);
}

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

// Like ssh with a private key: a file that others may read is no place for a password.
bool readPasswordFile(const QString &sPath, QString *psPassword, QString *psError)
{
    struct stat status = {};
    if (stat(QFile::encodeName(sPath).constData(), &status) != 0 || !S_ISREG(status.st_mode)) {
        *psError = QStringLiteral("cannot read password file %1").arg(sPath);
        return false;
    }
    if ((status.st_mode & 077) != 0) {
        *psError = QStringLiteral("permissions %1 of password file %2 are too open; run chmod 600 %2")
                       .arg(status.st_mode & 0777, 4, 8, QChar('0'))
                       .arg(sPath);
        return false;
    }
    QFile file(sPath);
    if (!file.open(QIODevice::ReadOnly)) {
        *psError = QStringLiteral("cannot read password file %1: %2").arg(sPath, file.errorString());
        return false;
    }
    *psPassword = firstLine(file.readAll());
    return true;
}

} // namespace

bool resolvePassword(const CliOptions &options, const QString &sPrompt, QString *psPassword, QString *psError)
{
    const int iSources =
        int(options.bPasswordGiven) + int(!options.sPasswordFile.isEmpty()) + int(options.bPasswordStdin);
    if (iSources > 1) {
        *psError = QStringLiteral("give one of --password, --password-file and --password-stdin");
        return false;
    }
    if (!options.sPasswordFile.isEmpty())
        return readPasswordFile(options.sPasswordFile, psPassword, psError);
    if (options.bPasswordStdin) {
        std::string sLine;
        std::getline(std::cin, sLine);
        *psPassword = firstLine(QByteArray::fromStdString(sLine));
        return true;
    }
    if (options.bPasswordGiven) {
        *psPassword = options.sPassword;
        return true;
    }
    if (qEnvironmentVariableIsSet("KESTROL_PASSWORD")) {
        *psPassword = qEnvironmentVariable("KESTROL_PASSWORD");
        return true;
    }
    if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
        *psPassword = promptWithoutEcho(sPrompt);
        return true;
    }
    *psError =
        QStringLiteral("no password: give --password-file, --password-stdin, set KESTROL_PASSWORD or run "
                       "interactively");
    return false;
}
