#include "cliargs.h"
#include "emulator.h"
#include "sendcommands.h"
#include "simulate.h"

#include <QCoreApplication>

#include <csignal>

namespace
{

int dispatch(QStringList args)
{
    if (args.size() < 2) return usageError(QStringLiteral("falta o comando"));
    const QString command = args.takeAt(1);
    if (command == QLatin1String("--version") || command == QLatin1String("--versao")) {
        printOut(versionText());
        return ExitOk;
    }
    if (command == QLatin1String("--help") || command == QLatin1String("--ajuda") ||
        command == QLatin1String("ajuda")) {
        printOut(usageText());
        return ExitOk;
    }
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("--ajuda"))) {
        printOut(commandUsage(command));
        return ExitOk;
    }
    if (command == QLatin1String("codifica")) return runEncode(args);
    if (command == QLatin1String("quadro")) return runFrame(args);
    if (command == QLatin1String("portas")) return runListPorts(args);
    if (command == QLatin1String("simula")) return runSimulate(args);
    if (command == QLatin1String("painel")) return runEmulator(args);
    for (const char *c : {"transfere", "inicia", "para", "apaga", "hora", "data"}) {
        if (command == QLatin1String(c)) return runSend(command, args);
    }
    return usageError(QStringLiteral("comando desconhecido: %1").arg(command));
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
