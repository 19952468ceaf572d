#include "recentfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

namespace recentfiles
{

namespace
{
const QString kFiles = QStringLiteral("ArquivosRecentes/arquivos");
const QString kFolder = QStringLiteral("ArquivosRecentes/pasta");
} // namespace

QStringList list()
{
    QStringList files = QSettings(QStringLiteral("Letreiro"), QStringLiteral("Letreiro"))
                            .value(kFiles)
                            .toStringList();
    files.erase(std::remove_if(files.begin(), files.end(),
                               [](const QString &f) { return !QFileInfo(f).isFile(); }),
                files.end());
    return files.mid(0, kMax);
}

void add(const QString &path)
{
    const QString file = QFileInfo(path).absoluteFilePath();
    QStringList files = QSettings(QStringLiteral("Letreiro"), QStringLiteral("Letreiro"))
                            .value(kFiles)
                            .toStringList();
    files.removeAll(file);
    files.prepend(file);
    QSettings settings(QStringLiteral("Letreiro"), QStringLiteral("Letreiro"));
    settings.setValue(kFiles, files.mid(0, kMax));
    settings.setValue(kFolder, QFileInfo(file).absolutePath());
}

QString lastFolder()
{
    const QString last =
        QSettings(QStringLiteral("Letreiro"), QStringLiteral("Letreiro")).value(kFolder).toString();
    if (!last.isEmpty() && QFileInfo(last).isDir()) return last;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

} // namespace recentfiles
