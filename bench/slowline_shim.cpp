// An LD_PRELOAD interposer that makes one pseudo-terminal behave like a
// serial line at 2400 baud, 8N2: bytes written to the device named by
// SLOWLINE_DEVICE are passed on at once, but TIOCOUTQ reports them as still
// queued until each has had its 11 bits of wire time, one after the other.
// A pseudo-terminal's own queue empties at once, which would hide any time
// the link loses between bytes.
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <mutex>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{

constexpr long long kByteNs = 11LL * 1000000000LL / 2400;

std::mutex g_lock;
int g_fd = -2; // -2: not looked for yet on this fd; -1: none
long long g_drainedAt = 0;

long long nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

bool isSlowLine(int fd)
{
    if (fd == g_fd) return true;
    const char *wanted = std::getenv("SLOWLINE_DEVICE");
    if (!wanted || !isatty(fd)) return false;
    char name[256];
    if (ttyname_r(fd, name, sizeof name) != 0 || std::strcmp(name, wanted) != 0) return false;
    g_fd = fd;
    return true;
}

template <typename F> F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" ssize_t write(int fd, const void *buf, size_t n)
{
    static const auto next = real<ssize_t (*)(int, const void *, size_t)>("write");
    const ssize_t written = next(fd, buf, n);
    if (written > 0) {
        std::lock_guard<std::mutex> lock(g_lock);
        if (isSlowLine(fd)) {
            const long long start = g_drainedAt > nowNs() ? g_drainedAt : nowNs();
            g_drainedAt = start + written * kByteNs;
        }
    }
    return written;
}

extern "C" int ioctl(int fd, unsigned long request, ...)
{
    static const auto next = real<int (*)(int, unsigned long, void *)>("ioctl");
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (request == TIOCOUTQ) {
        std::lock_guard<std::mutex> lock(g_lock);
        if (isSlowLine(fd)) {
            const long long left = g_drainedAt - nowNs();
            *static_cast<int *>(arg) = left > 0 ? int((left + kByteNs - 1) / kByteNs) : 0;
            return 0;
        }
    }
    return next(fd, request, arg);
}

extern "C" int tcflush(int fd, int queue)
{
    static const auto next = real<int (*)(int, int)>("tcflush");
    if (queue == TCOFLUSH || queue == TCIOFLUSH) {
        std::lock_guard<std::mutex> lock(g_lock);
        if (isSlowLine(fd)) g_drainedAt = 0;
    }
    return next(fd, queue);
}
