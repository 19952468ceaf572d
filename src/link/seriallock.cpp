#include "seriallock.h"

#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <csignal>
#endif

namespace seriallock
{

QStringList systemFolders()
{
    return {QStringLiteral("/var/lock"),
            QStringLiteral("/etc/locks"),
            QStringLiteral("/var/spool/locks"),
            QStringLiteral("/var/spool/uucp"),
            QStringLiteral("/tmp"),
            QStringLiteral("/var/tmp"),
            QStringLiteral("/var/lock/lockdev"),
            QStringLiteral("/run/lock")};
}

QString find(const QString &device, const QStringList &folders)
{
    // Qt names the lock after the path below /dev ("pts/7" -> "LCK..pts_7");
    // other programs after the device's own name.
    QString relative = device;
    if (relative.startsWith(QLatin1String("/dev/"))) relative = relative.mid(5);
    const QStringList names = {QStringLiteral("LCK..") + QFileInfo(device).fileName(),
                               QStringLiteral("LCK..") + relative.replace(u'/', u'_')};
    for (const QString &folder : folders)
        for (const QString &name : names) {
            const QString path = folder + u'/' + name;
            if (QFileInfo::exists(path)) return path;
        }
    return {};
}

qint64 holder(const QString &lockFile)
{
    QFile f(lockFile);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    // Qt writes "PID\nAPP\nHOST\n", UUCP programs the id right-aligned in
    // ten characters.
    bool ok = false;
    const qint64 pid = f.readLine(64).trimmed().toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}

bool processGone(qint64 pid)
{
#ifdef Q_OS_WIN
    Q_UNUSED(pid);
    return false;
#else
    // EPERM: it exists under another user.
    return ::kill(pid_t(pid), 0) == -1 && errno == ESRCH;
#endif
}

QString explain(const QString &device, const QStringList &folders, bool *removed)
{
    if (removed) *removed = false;
    const QString path = find(device, folders);
    const qint64 pid = path.isEmpty() ? 0 : holder(path);
    if (pid == 0) return {};
    if (!processGone(pid))
        return QStringLiteral("%1: a porta está em uso por outro programa (processo %2)")
            .arg(device)
            .arg(pid);
    if (removed && QFile::remove(path)) {
        *removed = true;
        return {};
    }
    return QStringLiteral("%1: trava antiga de um processo que já terminou: %2 (remova esse "
                          "arquivo como administrador)")
        .arg(device, path);
}

} // namespace seriallock
