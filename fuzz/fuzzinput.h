// What the fuzz targets share: the input as Qt types, and checks that end the run when a property fails.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A property of the reader that must hold for every input; a failure is a finding (the run stops).
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);         \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

namespace FuzzInput {

inline QByteArray bytes(const uint8_t *pData, size_t iSize)
{
    return QByteArray(reinterpret_cast<const char *>(pData), int(iSize));
}

// The input up to its first line feed, and what follows it.
inline QByteArray firstLine(const QByteArray &baInput)
{
    const int iEnd = baInput.indexOf('\n');
    return iEnd < 0 ? baInput : baInput.left(iEnd);
}
inline QByteArray afterFirstLine(const QByteArray &baInput)
{
    const int iEnd = baInput.indexOf('\n');
    return iEnd < 0 ? QByteArray() : baInput.mid(iEnd + 1);
}

// No character that a log reader takes for the end of a line: device text must not start one of its own.
inline bool isOneLine(const QString &sText)
{
    for (const QChar c : sText) {
        const ushort u = c.unicode();
        if (u == '\n' || u == '\r' || u == '\v' || u == '\f' || u == 0x85 || u == 0x2028 || u == 0x2029)
            return false;
    }
    return true;
}

} // namespace FuzzInput
