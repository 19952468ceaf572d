#include "messagelibrary.h"

#include "messagefile.h"
#include "schedule.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_UNIX
#include "writeall.h"
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{

MessageLibrary::Outcome failure(int status, const QString &why)
{
    return {status, why, {}};
}

MessageLibrary::Outcome badName()
{
    return failure(400, QStringLiteral("nome de mensagem inválido"));
}

MessageLibrary::Outcome notRegular()
{
    return failure(403, QStringLiteral("não é um arquivo comum (um link não é seguido)"));
}

#ifdef Q_OS_UNIX

MessageLibrary::Outcome readFile(const QByteArray &path)
{
    // O_NONBLOCK: a FIFO put there must not hold the open for ever.
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ELOOP ? notRegular()
                              : failure(404, QStringLiteral("mensagem não encontrada"));
    struct stat st {
    };
    MessageLibrary::Outcome out;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        out = notRegular();
    } else if (st.st_size > messagefile::kMaxBytes) {
        out = failure(413, QStringLiteral("mensagem grande demais"));
    } else {
        out.data.resize(qsizetype(st.st_size));
        qsizetype got = 0;
        for (ssize_t n = 1; got < out.data.size() && n > 0; got += std::max<ssize_t>(n, 0))
            n = ::read(fd, out.data.data() + got, size_t(out.data.size() - got));
        out.data.truncate(got);
    }
    ::close(fd);
    return out;
}

MessageLibrary::Outcome saveFile(const QByteArray &path, const QByteArray &rtf)
{
    struct stat st {
    };
    if (::lstat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode)) return notRegular();
    // A new file of our own beside it (mkstemp: O_EXCL, never an existing
    // name or a link), then renamed over the name: never half written.
    // Hidden, and short: the name may already be as long as names go.
    QByteArray temp = path.left(path.lastIndexOf('/') + 1) + ".gravando-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    const bool written =
        fd >= 0 && ::fchmod(fd, 0644) == 0 && writeAll(fd, rtf) && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    if (!written || ::rename(temp.constData(), path.constData()) != 0) {
        ::unlink(temp.constData());
        return failure(500, QStringLiteral("não foi possível gravar a mensagem"));
    }
    return {};
}
#else
// No symbolic links to speak of: the shared small-file reader and saver.
MessageLibrary::Outcome readFile(const QByteArray &path)
{
    const SmallFileRead f =
        messagefile::readSmallFile(QFile::decodeName(path), messagefile::kMaxBytes, true);
    return f.ok ? MessageLibrary::Outcome{200, {}, f.data} : failure(404, f.error);
}

MessageLibrary::Outcome saveFile(const QByteArray &path, const QByteArray &rtf)
{
    const QString why = messagefile::saveFile(QFile::decodeName(path), rtf);
    return why.isEmpty() ? MessageLibrary::Outcome{} : failure(500, why);
}
#endif

} // namespace

QStringList MessageLibrary::names() const
{
    QStringList out;
    for (const QString &n : QDir(m_folder).entryList({QStringLiteral("*.msg")},
                                                     QDir::Files | QDir::NoSymLinks, QDir::Name))
        if (isMessageName(n)) out.append(n);
    return out;
}

MessageLibrary::Outcome MessageLibrary::read(const QString &name) const
{
    if (!isMessageName(name)) return badName();
    return readFile(QFile::encodeName(QDir(m_folder).filePath(name)));
}

RtfReadResult MessageLibrary::message(const QString &name, int *status) const
{
    const Outcome f = read(name);
    RtfReadResult r = f.ok() ? readRtf(f.data) : RtfReadResult{};
    if (!f.ok()) r.error = f.error;
    if (status) *status = f.ok() ? (r.ok ? 200 : 400) : f.status;
    return r;
}

MessageLibrary::Outcome MessageLibrary::save(const QString &name, const QByteArray &rtf) const
{
    if (!isMessageName(name)) return badName();
    QDir().mkpath(m_folder);
    return saveFile(QFile::encodeName(QDir(m_folder).filePath(name)), rtf);
}
