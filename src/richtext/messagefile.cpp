#include "messagefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/stat.h>
#endif

namespace messagefile
{

QString whyMissing(const QString &path)
{
#ifdef Q_OS_UNIX
    // The system knows why a name does not lead to a file; "it does not
    // exist" would send the operator looking in the wrong place.
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        switch (errno) {
        case ELOOP:
            return QStringLiteral("o link simbólico leva a ele mesmo (um laço)");
        case EACCES:
            return QStringLiteral("sem permissão para entrar na pasta %1")
                .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath()));
        case ENOTDIR:
            return QStringLiteral("uma parte do caminho não é uma pasta");
        default:
            break;
        }
    }
#endif
    const QFileInfo info(path);
    if (info.isSymLink())
        return QStringLiteral("o link simbólico aponta para um arquivo que não existe");
    if (!info.absoluteDir().exists()) return QStringLiteral("a pasta do arquivo não existe");
    return QStringLiteral("o arquivo não existe");
}

SmallFileRead readSmallFile(const QString &path, qint64 limit, bool refuseLarger)
{
    SmallFileRead r;
    const QFileInfo info(path);
    if (!info.exists()) {
        r.error = whyMissing(path);
        return r;
    }
    if (info.isDir()) {
        r.error = QStringLiteral("é uma pasta, não um arquivo");
        return r;
    }
    if (!info.isFile()) {
        r.error = QStringLiteral("não é um arquivo comum");
        return r;
    }
    if (refuseLarger && info.size() > limit) {
        r.error = QStringLiteral("o arquivo é grande demais (mais de %1 KB)").arg(limit / 1024);
        return r;
    }
    QFile f(path);
    if (!info.isReadable()) {
        r.error = QStringLiteral("sem permissão para ler o arquivo");
        return r;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        r.error = f.error() == QFileDevice::PermissionsError
                      ? QStringLiteral("sem permissão para ler o arquivo")
                      : QStringLiteral("não foi possível abrir o arquivo");
        return r;
    }
    // The size may have changed since it was looked at: read one byte more
    // than the limit to know.
    r.data = f.read(limit + 1);
    if (r.data.size() > limit) {
        if (refuseLarger) {
            r.data.clear();
            r.error = QStringLiteral("o arquivo é grande demais (mais de %1 KB)").arg(limit / 1024);
            return r;
        }
        r.data.truncate(limit);
    }
    if (f.error() != QFileDevice::NoError) {
        r.data.clear();
        r.error = QStringLiteral("erro de leitura do arquivo");
        return r;
    }
    r.ok = true;
    return r;
}

QString saveFile(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    if (info.isDir()) return QStringLiteral("é uma pasta, não um arquivo");
    if (!info.absoluteDir().exists()) return QStringLiteral("a pasta não existe");
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return f.error() == QFileDevice::PermissionsError ||
                       !QFileInfo(info.absolutePath()).isWritable()
                   ? QStringLiteral("sem permissão para gravar nesta pasta")
                   : QStringLiteral("não foi possível criar o arquivo");
    if (f.write(bytes) != bytes.size() || !f.commit())
        return QStringLiteral("erro ao gravar (o disco pode estar cheio)");
    return {};
}

RtfReadResult read(const QString &path)
{
    const SmallFileRead file = readSmallFile(path, kMaxBytes, true);
    if (!file.ok) {
        RtfReadResult r;
        r.error = QStringLiteral("Não foi possível abrir o arquivo: %1.").arg(file.error);
        return r;
    }
    return readRtf(file.data);
}

} // namespace messagefile
