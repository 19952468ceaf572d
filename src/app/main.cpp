#include "mainwindow.h"
#include "settingsfolder.h"
#include "sharedsettings.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Letreiro"));
    QApplication::setOrganizationName(QStringLiteral("Letreiro"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/letreiro.svg")));
    SharedSettings settings;
    MainWindow window(settings, defaultSettingsFolder());
    window.load();
    window.show();
    return app.exec();
}
