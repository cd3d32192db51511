#include "wholefile.h"

#include <QSaveFile>

bool writeWholeFile(const QString &sPath, const QByteArray &baData, QString *psError)
{
    // Qt takes a short write (a full disk, a file size limit) for success, and QSaveFile then commits the
    // truncated file. Unbuffered, every write reaches the system at once, a short one shows in its count, and
    // the next one fails with the system's reason.
    QSaveFile file(sPath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        qint64 iDone = 0;
        while (iDone < baData.size()) {
            const qint64 iWritten = file.write(baData.constData() + iDone, baData.size() - iDone);
            if (iWritten <= 0)
                break;
            iDone += iWritten;
        }
        if (iDone == baData.size() && file.commit())
            return true;
    }
    *psError = QStringLiteral("cannot write %1: %2").arg(sPath, file.errorString());
    return false;
}
