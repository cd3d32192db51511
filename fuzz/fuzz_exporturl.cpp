// The settings export reply's "url" (API_CMD_SETTINGS_SAVE): the first line is the device's base URL, the
// rest the export reply. The download goes to the device's own scheme, host and port or nowhere, and the
// "Temp filename" line stays one line without user info.
#include "fuzzinput.h"
#include "logtext.h"
#include "replyformats.h"
#include "settingsexport.h"

#include <QUrl>

namespace {

int portOf(const QUrl &url)
{
    return url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t iSize)
{
    const QByteArray baInput = FuzzInput::bytes(pData, iSize);
    const QString sBase = QString::fromUtf8(FuzzInput::firstLine(baInput));
    const QUrl base(sBase, QUrl::TolerantMode);
    // The engine sends nothing for a device whose URL is not an http or https URL with a host.
    if (!base.isValid() || base.host().isEmpty() ||
        (base.scheme() != QLatin1String("http") && base.scheme() != QLatin1String("https")))
        return 0;

    const QString sLocation = ReplyFormats::exportLocation(FuzzInput::afterFirstLine(baInput));
    const QString sLogged = LogText::url(sLocation);
    FUZZ_CHECK(FuzzInput::isOneLine(sLogged));
    FUZZ_CHECK(QUrl(sLogged, QUrl::TolerantMode).password().isEmpty());

    const QString sDownload = SettingsExport::downloadUrl(sBase, sLocation);
    if (sDownload.isEmpty())
        return 0;
    // As the transport reads it.
    const QUrl download(sDownload, QUrl::TolerantMode);
    FUZZ_CHECK(download.scheme() == base.scheme());
    FUZZ_CHECK(download.host() == base.host());
    FUZZ_CHECK(portOf(download) == portOf(base));
    return 0;
}
