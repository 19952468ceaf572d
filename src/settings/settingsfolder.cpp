#include "settingsfolder.h"

#include "settingsfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString settingsFolder(const QString &programFolder)
{
    const QDir dir(programFolder);
    if (QFileInfo::exists(dir.filePath(settingsfiles::kConfigFile))) return dir.absolutePath();
    // An installed program (bin/ beside share/letreiro/) never writes its own
    // folder, even when it could, as root can write /usr/bin.
    const bool installed = QFileInfo::exists(
        dir.filePath(QStringLiteral("../share/letreiro/") + settingsfiles::kTipsFile));
    if (!installed && QFileInfo(programFolder).isWritable()) return dir.absolutePath();
    return perUserSettingsFolder();
}

QString perUserSettingsFolder()
{
    // The desktop program and the command-line tool share it, whatever their
    // own application names.
    QString perUser = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                            QStringLiteral("/Letreiro");
    QDir().mkpath(perUser);
    return perUser;
}

QString defaultSettingsFolder()
{
    return settingsFolder(QCoreApplication::applicationDirPath());
}
