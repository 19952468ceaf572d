#pragma once

#include <QByteArray>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#ifndef O_CLOEXEC
#define O_CLOEXEC O_NOINHERIT
#endif
#endif

// The file's data on the disk before the call returns.
inline int syncData(int fd)
{
#ifdef _WIN32
    return ::_commit(fd);
#else
    return ::fdatasync(fd);
#endif
}

// `to` replaced by `from` in one step, as rename(2) does; Windows' rename
// refuses a name that exists.
inline int replaceFile(const char *from, const char *to)
{
#ifdef _WIN32
    return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
#else
    return std::rename(from, to);
#endif
}

// All of `bytes` to a file descriptor, again after a signal or a short
// write; false on an error.
inline bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}
