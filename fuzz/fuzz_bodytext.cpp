// Reply bodies written to the log (firmware upload and progress, counters, backups): the text ends at the
// first zero byte and, escaped, stays on one line.
#include "fuzzinput.h"
#include "logtext.h"
#include "replyformats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t iSize)
{
    const QString sText = ReplyFormats::bodyText(FuzzInput::bytes(pData, iSize));
    FUZZ_CHECK(!sText.contains(QChar::Null));
    const QString sEscaped = LogText::escaped(sText);
    FUZZ_CHECK(FuzzInput::isOneLine(sEscaped));
    // Only controls and line or paragraph separators are written otherwise: every other character is kept,
    // in order.
    int iAt = 0;
    for (const QChar c : sText) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph)
            continue;
        iAt = sEscaped.indexOf(c, iAt) + 1;
        FUZZ_CHECK(iAt > 0);
    }
    return 0;
}
