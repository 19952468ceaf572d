#include "cliargs.h"
#include "emulator.h"
#include "sendcommands.h"
#include "simulate.h"
#include "usage.h"

#include <QCoreApplication>

#include <csignal>

namespace
{

bool isHelp(const QString &arg)
{
    return arg == QLatin1String("-h") || arg == QLatin1String("--help") ||
           arg == QLatin1String("--ajuda") || arg == QLatin1String("ajuda");
}

int dispatch(QStringList args)
{
    if (args.size() < 2) return usageError(QStringLiteral("falta o comando"));
    const QString command = args.takeAt(1);
    if (command == QLatin1String("--version") || command == QLatin1String("--versao")) {
        printOut(versionText());
        return ExitOk;
    }
    if (isHelp(command)) {
        // "letreiro-cli ajuda transfere" reads as well as "transfere --ajuda".
        const QString about = args.value(1);
        printOut(usage::isCommand(about) ? usage::command(about) : usage::program());
        return ExitOk;
    }
    if (!usage::isCommand(command))
        return usageError(QStringLiteral("comando desconhecido: %1").arg(command));
    setCommandName(command);
    if (command == QLatin1String("codifica")) return runEncode(args);
    if (command == QLatin1String("quadro")) return runFrame(args);
    if (command == QLatin1String("portas")) return runListPorts(args);
    if (command == QLatin1String("simula")) return runSimulate(args);
    if (command == QLatin1String("painel")) return runEmulator(args);
    return runSend(command, args);
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    // A reader that goes away (`| grep -q`) must not end the command
    // between two panels: the write fails, the panels still get theirs.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("letreiro-cli"));
    const int status = dispatch(QCoreApplication::arguments());
    return outputFailed() ? int(ExitUsage) : status;
}
