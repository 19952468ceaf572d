#include "openfiles.h"

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

void openfiles::raiseSoftLimit()
{
#ifdef Q_OS_UNIX
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == files.rlim_max) return;
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
#endif
}

void openfiles::fit(HttpEngine::Limits &limits)
{
#ifdef Q_OS_UNIX
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return;
    const auto room =
        int(qBound(qint64(1), qint64(files.rlim_cur) - limits.reservedFiles, qint64(1) << 30));
    if (room >= limits.maxConnections) return;
    limits.maxConnections = room;
    limits.maxPerAddress = qMin(limits.maxPerAddress, qMax(1, room / 4));
    qCWarning(lcEngine, "limite de %lld arquivos abertos: no máximo %d conexões HTTP, "
             "%d por endereço",
             qint64(files.rlim_cur), limits.maxConnections, limits.maxPerAddress);
#else
    Q_UNUSED(limits);
#endif
}
