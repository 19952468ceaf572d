#pragma once

#include "result.h"

#include <QByteArray>
#include <QString>

// Files that never vanish nor show half written: a write goes to a new
// file of its own beside the old one, synced and renamed over it only once
// all of it is on the disk, so a full disk or a kill mid-write leaves the
// old file as it was; a file that cannot be read is moved aside, never
// written over. Every file the service writes whole goes through here:
// state files, the history, the agenda, the users, library messages.
namespace wholefile
{

struct Options {
    // The file's permissions, whatever the umask: state is the service's
    // alone; what an operator edits or copies is readable.
    int mode = 0600;
    // For names a client chose: a name that is a link or anything but a
    // regular file is refused (Forbidden), never followed nor replaced.
    bool regularOnly = false;
    // Run as root (the administrator at the service's files), the file is
    // given to the owner of its folder, the service's user, who must read it.
    bool toFolderOwner = false;
};

// Written, or why not in Portuguese (Io; Forbidden for regularOnly). The
// old file is intact either way.
Result<> write(const QString &path, const QByteArray &bytes, const Options &options = {});

// What the system said, in Portuguese.
QString errnoWords(int error);

// `path` renamed to PATH.ilegivel (a number after it when that is taken);
// the note for the log and `avisos` says where it is, or why it stayed.
QString setAside(const QString &path, const QString &why);

} // namespace wholefile
