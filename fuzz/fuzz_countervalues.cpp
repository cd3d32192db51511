// Counter values (API_CMD_AICOUNTER_GET): the first line is the counter's name, the rest the body. Every
// value the host gets is a decimal integer, and only a body that is an array yields values.
#include "fuzzinput.h"
#include "replyformats.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t iSize)
{
    const QByteArray baInput = FuzzInput::bytes(pData, iSize);
    const ReplyFormats::CounterValues values = ReplyFormats::counterValues(
        FuzzInput::afterFirstLine(baInput), QString::fromUtf8(FuzzInput::firstLine(baInput)));
    static const QRegularExpression integer(QStringLiteral("^-?[0-9]+$"));
    FUZZ_CHECK(values.bArray || values.lValues.isEmpty());
    for (const QString &sValue : values.lValues)
        FUZZ_CHECK(integer.match(sValue).hasMatch());
    return 0;
}
