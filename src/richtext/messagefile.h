#pragma once

#include "rtfreader.h"

#include <QByteArray>
#include <QString>

// Files that are small by nature (a message, a settings file) are read
// without trusting what the name leads to: only a regular file is opened,
// since a FIFO would block the open for ever and a device such as
// /dev/zero would never end, and only up to a limit.
struct SmallFileRead {
    bool ok = false;
    QByteArray data;
    // Why not, for the operator, in Portuguese (without the file's name).
    QString error;
};

namespace messagefile
{

// The largest message file read: far above what a panel message can be
// (its RTF with a format change at every character is under 1 MB).
constexpr qint64 kMaxBytes = 4 * 1024 * 1024;

// Reads at most `limit` bytes of the regular file at path. With
// refuseLarger, a longer file is an error; otherwise only its start is read.
SmallFileRead readSmallFile(const QString &path, qint64 limit, bool refuseLarger);
// Why a path leads to no file, in Portuguese: a folder one may not enter, a
// link that loops or points nowhere, a missing folder or file.
QString whyMissing(const QString &path);

// Replaces the file at path with bytes atomically (a crash never leaves a
// half-written file). Returns why not, in Portuguese, or an empty text.
QString saveFile(const QString &path, const QByteArray &bytes);

// Reads a message file (RTF); the caller names the file in an error.
RtfReadResult read(const QString &path);

} // namespace messagefile
