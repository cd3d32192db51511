// Local files of the suites: uploads, backups, snapshots, and the check that nothing half-written stays.
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QString>
#include <QStringList>

// Deterministic bytes that include zero and high bytes, as settings databases and images do.
inline QByteArray patternBytes(int iSize, quint32 iSeed)
{
    QByteArray baBytes(iSize, '\0');
    quint32 iState = iSeed;
    for (int i = 1; i < iSize; ++i) {
        iState = iState * 1664525u + 1013904223u;
        baBytes[i] = char(iState >> 24);
    }
    return baBytes;
}

inline bool writeFile(const QString &sPath, const QByteArray &baBytes)
{
    QFile file(sPath);
    return file.open(QIODevice::WriteOnly) && file.write(baBytes) == baBytes.size();
}

inline QByteArray readFile(const QString &sPath)
{
    QFile file(sPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QByteArray sha256Hex(const QByteArray &baBytes)
{
    return QCryptographicHash::hash(baBytes, QCryptographicHash::Sha256).toHex();
}

// Every file under sDir (relative paths, sorted), hidden ones included: a suite compares it with the files it
// expects, so a temporary name of an atomic write that stayed behind, or a partial file, shows.
inline QStringList filesUnder(const QString &sDir)
{
    QStringList lFiles;
    QDirIterator it(sDir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        lFiles.append(QDir(sDir).relativeFilePath(it.next()));
    lFiles.sort();
    return lFiles;
}
