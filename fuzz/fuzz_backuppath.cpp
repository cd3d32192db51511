// Where a settings backup is written (API_CMD_SETTINGS_SAVE): for any destination the host names, one
// absolute, clean file path, never a directory.
#include "fuzzinput.h"
#include "settingsexport.h"

#include <QDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t iSize)
{
    const QString sDestination = QString::fromUtf8(FuzzInput::bytes(pData, iSize));
    // The engine refuses a destination holding a zero character before it gets here.
    if (sDestination.contains(QChar::Null))
        return 0;
    const QString sResolved = SettingsExport::resolveDestination(sDestination);
    const QString sFile = SettingsExport::filePath(sResolved, QDateTime(QDate(2024, 3, 5), QTime(8, 0)));
    FUZZ_CHECK(QDir::isAbsolutePath(sFile));
    FUZZ_CHECK(QDir::cleanPath(sFile) == sFile);
    FUZZ_CHECK(!sFile.endsWith(QLatin1Char('/')));
    return 0;
}
