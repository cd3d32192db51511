// Without libFuzzer: runs every file given, or every file in the directories given, through the target
// once. The suites replay the seed corpus this way, so that what a fuzz run found stays fixed.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t iSize);

int main(int argc, char *argv[])
{
    int iInputs = 0;
    for (int i = 1; i < argc; ++i) {
        const QString sPath = QString::fromLocal8Bit(argv[i]);
        QStringList lFiles{sPath};
        if (QFileInfo(sPath).isDir()) {
            lFiles.clear();
            for (const QFileInfo &info : QDir(sPath).entryInfoList(QDir::Files, QDir::Name))
                lFiles.append(info.filePath());
        }
        for (const QString &sFile : qAsConst(lFiles)) {
            QFile file(sFile);
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(sFile));
                return 2;
            }
            const QByteArray baInput = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(baInput.constData()),
                                   size_t(baInput.size()));
            ++iInputs;
        }
    }
    std::printf("%d inputs replayed\n", iInputs);
    return iInputs > 0 ? 0 : 2;
}
