#include "helptext.h"

#include "commands.h"
#include "options.h"

namespace {

// Words of sText in lines of at most 100 columns, each indented by six blanks.
QString wrapped(const QString &sText)
{
    QString sWrapped;
    QString sLine;
    for (const QString &sWord : sText.split(' ', Qt::SkipEmptyParts)) {
        if (!sLine.isEmpty() && 6 + sLine.size() + 1 + sWord.size() > 100) {
            sWrapped += QStringLiteral("      %1\n").arg(sLine);
            sLine.clear();
        }
        sLine += (sLine.isEmpty() ? QString() : QStringLiteral(" ")) + sWord;
    }
    return sWrapped + QStringLiteral("      %1\n").arg(sLine);
}

} // namespace

QString helpEpilogue()
{
    QString sText = QStringLiteral("\nCommands (the plugin's API_CMD_* names are accepted too):\n");
    for (const CommandSpec &spec : commandTable()) {
        const QString sUsage = (spec.sName + ' ' + spec.sArgs).trimmed();
        sText += QStringLiteral("  %1 %2\n").arg(sUsage, -40).arg(spec.sApiName) + wrapped(spec.sHelp);
    }
    sText +=
        QStringLiteral(
            "  plugin-info\n"
            "      show the loaded plugin and its commands (no device needed)\n"
            "  demo\n"
            "      run all ten commands against simulated devices in this process; --devices N: N devices\n"
            "      at once; -o DIR: directory for the demo's files (default: a new temporary directory)\n"
            "\n"
            "Devices: --url URL names one device, whose id is its host, port and path. A device file\n"
            "(--devices FILE) has one device per line as \"id,url,user,password,pin\"; lines starting with "
            "'#'\n"
            "and blank lines are skipped, a field may be double-quoted (\"\" is a quote inside it). An "
            "empty\n"
            "user or password takes --user or the password below; every device needs a user.\n"
            "\n"
            "Passwords: the device file's, else --password-file FILE (first line; the file must not be\n"
            "readable by group or others, like an ssh key), --password-stdin (first line of standard "
            "input),\n"
            "--password (visible to every user in the process list, so kestrolctl warns), the environment\n"
            "variable KESTROL_PASSWORD, or a prompt without echo on a terminal.\n"
            "\n"
            "Certificates: devices present self-signed certificates, which are accepted unless pinned.\n"
            "--pin SHA256 (or the device file's pin) is the SHA-256 fingerprint of the device's certificate\n"
            "or public key in DER form: 64 hex digits, ':' allowed, optional \"sha256:\" prefix. The plugin "
            "then\n"
            "ends every request to a device that presents another certificate before any password is sent.\n"
            "--known-devices FILE pins on first use, like ssh's known_hosts: before anything is sent,\n"
            "kestrolctl reads each HTTPS device's certificate, records an endpoint it has not seen, and\n"
            "refuses a device whose certificate changed (exit 6). The file holds one \"HOST:PORT "
            "sha256:HEX\"\n"
            "line per endpoint (HEX: SHA-256 of the certificate, DER); '#' starts a comment. To accept a\n"
            "replaced certificate, delete its line.\n"
            "\n"
            "Fleet runs: at most --parallel N devices are in flight at once (default %1); the others wait\n"
            "for a free place, and the summary covers every device. --retries N repeats a request that "
            "failed\n"
            "in a way worth retrying (connection refused or closed, time-out, HTTP 502, 503, 504) after 1 "
            "s,\n"
            "2 s, 4 s, ... (at most 60 s), never one refused with code 101 or another HTTP error status.\n"
            "firmware-update --verify reads the firmware version first and, after the update, asks the "
            "device\n"
            "for it every second: another version is success (\"old -> new\"); the old version after the\n"
            "device went away and came back, or no new version within --reboot-timeout (default 300 s), is\n"
            "a failure. --canary K updates and verifies the first K devices of the file before any other "
            "and\n"
            "starts no other device if one of them fails; it implies --verify.\n"
            "\n"
            "Output: results go to standard output, failures and the fleet summary to standard error.\n"
            "A failure carries its reason, taken from the plugin's log lines of the request:\n"
            "  connection refused, connection closed by the device, connection timed out,\n"
            "  host NAME not found, TLS handshake failed, HTTP 404 Not Found (any status),\n"
            "  timed out after 60 s (no data moved; KESTROL_TRANSFER_TIMEOUT_MS and\n"
            "  KESTROL_UPLOAD_TIMEOUT_MS set the plugin's limits), redirect to URL not followed,\n"
            "  cannot write FILE: No space left on device (or another system error), cannot read FILE: ...,\n"
            "  certificate does not match the pin, certificate of HOST:PORT changed: ...,\n"
            "  credentials refused, no answer within N s (--timeout), not started: canary ID failed,\n"
            "  the device came back with the old firmware V, firmware still V N s after the update,\n"
            "  the device did not come back within N s after the update (last: REASON).\n"
            "--json prints one object per device on standard output, failures included: device, url,\n"
            "command, request, code, status, reason, seconds, retries, summary, files, result and, with\n"
            "--verify, firmware {before, after}. -q prints failures only. --verbose shows the plugin's log\n"
            "lines tagged with their device; in a fleet run the lines that name no request (reply bodies,\n"
            "\"Got snapshot.\") are left out unless a single request is in flight. The progress bar is drawn "
            "on\n"
            "a terminal only, not with -q, --no-progress, TERM=dumb or NO_COLOR.\n"
            "\n"
            "Files: <device> in default file names is the device id with characters other than letters,\n"
            "digits, '.', '_' and '-' as '_'. A run in which two devices would write the same file is "
            "refused\n"
            "(exit 2). counter -o FILE.csv writes \"device,counter,start,end,value\", one row per value of "
            "every\n"
            "device, start and end (\"yyyy-MM-dd hh:mm:ss\") bounding the value's interval; -o FILE.jsonl\n"
            "writes the same rows as JSON lines. --report FILE.csv writes "
            "device,command,status,code,reason,\n"
            "seconds,retries,summary,files (';'-separated) per device; --report FILE.json the --json "
            "objects.\n"
            "\n"
            "Exit status:\n"
            "  0  every device succeeded\n"
            "  1  a device failed: code 103, a result not written, a failed verification, or not started\n"
            "     because a canary failed\n"
            "  2  usage error or bad input; nothing was sent\n"
            "  3  a device refused the credentials (code 101)\n"
            "  4  no answer within --timeout\n"
            "  5  the plugin could not be loaded\n"
            "  6  a device's certificate differs from its pin or from the one in --known-devices\n"
            "When devices fail in different ways, the highest of these values is returned.\n")
            .arg(iDefaultParallel);
    return sText;
}
