// Counter names (API_CMD_AICOUNTER_LIST): ascending, each once, never the time member, and each fit for
// the log line that lists them.
#include "fuzzinput.h"
#include "logtext.h"
#include "replyformats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t iSize)
{
    const QStringList lNames = ReplyFormats::counterNames(FuzzInput::bytes(pData, iSize));
    for (int i = 0; i < lNames.size(); ++i) {
        FUZZ_CHECK(i == 0 || lNames.at(i - 1) < lNames.at(i));
        FUZZ_CHECK(lNames.at(i).compare(QLatin1String("datetime"), Qt::CaseInsensitive) != 0);
        FUZZ_CHECK(lNames.at(i).compare(QLatin1String("timestamp"), Qt::CaseInsensitive) != 0);
    }
    FUZZ_CHECK(FuzzInput::isOneLine(LogText::escaped(lNames.join(QLatin1String(", ")))));
    return 0;
}
