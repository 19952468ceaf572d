#include "appcontroller.h"
#include "portuguese.h"
#include "settingsfolder.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
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
    controller.start();
    return app.exec();
}
