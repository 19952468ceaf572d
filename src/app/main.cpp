#include "appcontroller.h"
#include "portuguese.h"
#include "settingsfolder.h"

#include <QApplication>
#include <QIcon>

#include <algorithm>
#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    // Answered without a window, so that scripts and package checks can ask.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "--versao") == 0) {
            std::printf("letreiro %d.%d.%d\n", LETREIRO_VERSION_MAJOR, LETREIRO_VERSION_MINOR,
                        LETREIRO_VERSION_PATCH);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "--ajuda") == 0 ||
            std::strcmp(argv[i], "-h") == 0) {
            std::fputs("Uso: letreiro [ARQUIVO.msg ...]\n"
                       "\n"
                       "Editor e carregador de mensagens para painéis de LED. Abre cada\n"
                       "ARQUIVO.msg numa janela própria depois da abertura do programa.\n"
                       "\n"
                       "  --ajuda, --help     mostra este texto\n"
                       "  --versao, --version mostra a versão\n"
                       "\n"
                       "Para usar os painéis sem janela (scripts, cron), veja letreiro-cli --ajuda.\n",
                       stdout);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Letreiro"));
    QApplication::setOrganizationName(QStringLiteral("Letreiro"));
    // The settings cycle closes the main window without ending the program.
    QApplication::setQuitOnLastWindowClosed(false);
    installPortuguese();
    Q_INIT_RESOURCE(app);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/letreiro.svg")));
    AppController controller(defaultSettingsFolder(), shippedTipsFile());
    QObject::connect(&controller, &AppController::finished, &app, &QCoreApplication::quit);
    // The files it was started with ("letreiro a.msg b.msg", or a double
    // click in a file manager); Qt has taken its own options out.
    QStringList files = QApplication::arguments().mid(1);
    files.erase(std::remove_if(files.begin(), files.end(),
                               [](const QString &a) { return a.startsWith(QLatin1Char('-')); }),
                files.end());
    controller.openAtStart(files);
    controller.start();
    return app.exec();
}
