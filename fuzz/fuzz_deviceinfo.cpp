// Device information replies (API_CMD_GET_CONFIG): whatever the body, one map of two strings.
#include "fuzzinput.h"
#include "replyformats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t iSize)
{
    const QVariantMap map = ReplyFormats::deviceInfo(FuzzInput::bytes(pData, iSize));
    FUZZ_CHECK(map.keys() == (QStringList{"API_FW", "API_MAC"}));
    FUZZ_CHECK(map.value("API_FW").userType() == QMetaType::QString);
    FUZZ_CHECK(map.value("API_MAC").userType() == QMetaType::QString);
    return 0;
}
