#include "wholefile.h"

#include "writeall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace wholefile
{

QString errnoWords(int error)
{
    switch (error) {
    case ENOSPC: return QStringLiteral("o disco está cheio");
#ifdef EDQUOT // not on Windows
    case EDQUOT: return QStringLiteral("a cota de disco acabou");
#endif
    case EFBIG: return QStringLiteral("o arquivo passa do tamanho que o sistema permite");
    case EROFS: return QStringLiteral("o disco é somente leitura");
    case EACCES:
    case EPERM: return QStringLiteral("sem permissão para gravar nesta pasta");
    case ENOENT:
    case ENOTDIR: return QStringLiteral("a pasta não existe");
    case EISDIR: return QStringLiteral("é uma pasta, não um arquivo");
    case EIO: return QStringLiteral("erro de entrada e saída no disco");
    default: return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString write(const QString &path, const QByteArray &bytes)
{
    if (QFileInfo(path).isDir()) return errnoWords(EISDIR);
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temp = target + ".novo";
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return errnoWords(errno);
    int error = 0;
    if (!writeAll(fd, bytes) || syncData(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (!error && replaceFile(temp.constData(), target.constData()) != 0) error = errno;
    if (error) {
        ::unlink(temp.constData());
        return errnoWords(error);
    }
#ifndef _WIN32
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                           O_RDONLY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
#endif
    return {};
}

QString setAside(const QString &path, const QString &why)
{
    QString aside = path + QStringLiteral(".ilegivel");
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = path + QStringLiteral(".ilegivel.%1").arg(n);
    if (std::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) !=
        0)
        return QStringLiteral("%1 não pôde ser lido (%2) nem posto de lado (%3): não será "
                              "regravado")
            .arg(path, why, errnoWords(errno));
    return QStringLiteral("%1 não pôde ser lido (%2): guardado como %3").arg(path, why, aside);
}

} // namespace wholefile
