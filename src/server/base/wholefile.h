#pragma once

#include <QByteArray>
#include <QString>

// State files that never vanish: a write goes to a new file that is synced
// and renamed over the old one only once all of it is on the disk, so a
// full disk or a kill mid-write leaves the old file as it was; a file that
// cannot be read is moved aside, never written over.
namespace wholefile
{

// Empty when written; otherwise why not, in Portuguese (the old file is intact).
QString write(const QString &path, const QByteArray &bytes);

// What the system said, in Portuguese.
QString errnoWords(int error);

// `path` renamed to PATH.ilegivel (a number after it when that is taken);
// the note for the log and `avisos` says where it is, or why it stayed.
QString setAside(const QString &path, const QString &why);

} // namespace wholefile
