// Local files for uploads and backups in the engine suites.
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QString>

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
