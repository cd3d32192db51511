#ifndef KESTROLCTL_DEMO_H
#define KESTROLCTL_DEMO_H

class Console;
struct CliOptions;

// Starts the device simulator in this process (HTTPS, Digest authentication), registers --devices N
// simulated devices with the plugin and runs all ten commands on them, checking each effect on the
// simulated device; returns the exit status (0 only when everything succeeded).
int runDemo(const CliOptions &options, Console *pConsole);

#endif // KESTROLCTL_DEMO_H
