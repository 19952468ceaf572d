#pragma once

#include <QString>
#include <QStringList>

// The UUCP lock files ("LCK..ttyUSB0", the holder's process id on the first
// line) that Qt and other serial programs leave in the system's lock
// folders. A lock whose process has ended is only a leftover: it is removed
// when we may, and otherwise named so that the administrator can remove it.
namespace seriallock
{

// Where serial programs keep their locks, in the order Qt looks.
QStringList systemFolders();

// The lock file of device in one of folders, or "" when there is none.
QString find(const QString &device, const QStringList &folders);

// The process id a lock file names, 0 when it names none.
qint64 holder(const QString &lockFile);

// True when no process with this id exists.
bool processGone(qint64 pid);

// What a lock file of device in folders says about why the device could not
// be opened: its live holder, or a leftover of a process that ended. With
// removed, a leftover we may remove is removed instead (*removed true: the
// caller tries again). "" when no lock explains it.
QString explain(const QString &device, const QStringList &folders, bool *removed);

} // namespace seriallock
