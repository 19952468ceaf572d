#include "wholefile.h"

#include "writeall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

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

Result<> write(const QString &path, const QByteArray &bytes, const Options &options)
{
    if (QFileInfo(path).isDir()) return Failure::io(errnoWords(EISDIR));
    const QByteArray target = QFile::encodeName(path);
#ifdef Q_OS_UNIX
    struct stat st {
    };
    if (options.regularOnly && ::lstat(target.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return Failure::forbidden(
            QStringLiteral("não é um arquivo comum (um link não é seguido)"));
    // mkostemp opens with O_EXCL: never a name that exists, nor a link put
    // there to be followed. Hidden, and short: the file's own name may
    // already be as long as names go.
    QByteArray temp = target.left(target.lastIndexOf('/') + 1) + ".gravando-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
#else
    // No links to be wary of, nor mkostemp.
    const QByteArray temp = target + ".novo";
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_BINARY,
                          options.mode);
#endif
    if (fd < 0) return Failure::io(errnoWords(errno));
    int error = 0;
#ifdef Q_OS_UNIX
    if (::fchmod(fd, mode_t(options.mode)) != 0) error = errno;
    if (options.toFolderOwner && ::geteuid() == 0 &&
        ::stat(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &st) == 0) {
        [[maybe_unused]] const int given = ::fchown(fd, st.st_uid, st.st_gid);
    }
#endif
    if (!error && (!writeAll(fd, bytes) || syncData(fd) != 0)) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (!error && replaceFile(temp.constData(), target.constData()) != 0) error = errno;
    if (error) {
        ::unlink(temp.constData());
        return Failure::io(errnoWords(error));
    }
#ifdef Q_OS_UNIX
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
