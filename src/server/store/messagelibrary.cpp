#include "messagelibrary.h"

#include "rtfreader.h"

#include "messagefile.h"
#include "schedule.h"
#include "wholefile.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{

Failure badName()
{
    return Failure::invalid(QStringLiteral("nome de mensagem inválido"));
}

Failure notRegular()
{
    return Failure::forbidden(QStringLiteral("não é um arquivo comum (um link não é seguido)"));
}

#ifdef Q_OS_UNIX

Result<QByteArray> readFile(const QByteArray &path)
{
    // O_NONBLOCK: a FIFO put there must not hold the open for ever.
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ELOOP ? notRegular()
                              : Failure::notFound(QStringLiteral("mensagem não encontrada"));
    struct stat st {
    };
    Result<QByteArray> out = QByteArray();
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        out = notRegular();
    } else if (st.st_size > messagefile::kMaxBytes) {
        out = Failure::tooLarge(QStringLiteral("mensagem grande demais"));
    } else {
        QByteArray &data = out.value();
        data.resize(qsizetype(st.st_size));
        qsizetype got = 0;
        for (ssize_t n = 1; got < data.size() && n > 0; got += std::max<ssize_t>(n, 0))
            n = ::read(fd, data.data() + got, size_t(data.size() - got));
        data.truncate(got);
    }
    ::close(fd);
    return out;
}
#else
// No symbolic links to speak of: the shared small-file reader.
Result<QByteArray> readFile(const QByteArray &path)
{
    const SmallFileRead f =
        messagefile::readSmallFile(QFile::decodeName(path), messagefile::kMaxBytes, true);
    if (!f.ok) return Failure::notFound(f.error);
    return f.data;
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

Result<QByteArray> MessageLibrary::read(const QString &name) const
{
    if (!isMessageName(name)) return badName();
    return readFile(QFile::encodeName(QDir(m_folder).filePath(name)));
}

Result<RichText> MessageLibrary::message(const QString &name) const
{
    const Result<QByteArray> f = read(name);
    if (!f) return f.failure();
    RtfReadResult r = readRtf(*f);
    if (!r.ok) return Failure::invalid(r.error);
    return std::move(r.text);
}

Result<> MessageLibrary::save(const QString &name, const QByteArray &rtf) const
{
    if (!isMessageName(name)) return badName();
    QDir().mkpath(m_folder);
    // Readable by whoever copies messages to and from the folder.
    wholefile::Options asMessage;
    asMessage.mode = 0644;
    asMessage.regularOnly = true;
    return wholefile::write(QDir(m_folder).filePath(name), rtf, asMessage);
}
