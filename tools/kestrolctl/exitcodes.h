#ifndef KESTROLCTL_EXITCODES_H
#define KESTROLCTL_EXITCODES_H

// Exit statuses of kestrolctl. When devices fail in different ways the highest applicable value wins, so a
// script sees the most severe kind of failure.
namespace exitcode {
constexpr int Ok = 0;          // every device succeeded
constexpr int Failed = 1;      // a device answered 103, failed verification or was not started after a canary
constexpr int Usage = 2;       // bad command line or input; nothing was sent
constexpr int Credentials = 3; // a device refused the credentials (101)
constexpr int NoAnswer = 4;    // no answer within --timeout
constexpr int PluginLoad = 5;  // the plugin module could not be loaded or is not a device-API plugin
constexpr int Untrusted = 6;   // a device's certificate differs from its pin or from the one known for it
} // namespace exitcode

#endif // KESTROLCTL_EXITCODES_H
