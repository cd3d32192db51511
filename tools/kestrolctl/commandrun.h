#ifndef KESTROLCTL_COMMANDRUN_H
#define KESTROLCTL_COMMANDRUN_H

class Console;
struct CliOptions;

// Runs one device command on the device of --url or on every device of --devices; returns the exit status.
int runDeviceCommand(const CliOptions &options, Console *pConsole);

// Loads the plugin and prints its identity and commands; returns the exit status.
int runPluginInfo(const CliOptions &options, Console *pConsole);

#endif // KESTROLCTL_COMMANDRUN_H
