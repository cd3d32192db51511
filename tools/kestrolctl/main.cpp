// kestrolctl: the command-line host of the device-API plugin.
#include "commandrun.h"
#include "console.h"
#include "demo.h"
#include "exitcodes.h"
#include "options.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestrolctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTROL_VERSION));

    Console console;
    CliOptions options;
    QString sText;
    switch (parseCommandLine(QCoreApplication::arguments(), &options, &sText)) {
    case ParseOutcome::Help:
    case ParseOutcome::Version:
        console.out(sText);
        return exitcode::Ok;
    case ParseOutcome::Error:
        console.err(QStringLiteral("kestrolctl: %1\n").arg(sText));
        return exitcode::Usage;
    case ParseOutcome::Run:
        break;
    }
    console.setProgressWanted(!options.bQuiet && !options.bNoProgress);
    if (options.sCommand == QLatin1String("demo"))
        return runDemo(options, &console);
    if (options.sCommand == QLatin1String("plugin-info"))
        return runPluginInfo(options, &console);
    return runDeviceCommand(options, &console);
}
