#pragma once

// A stand-in panel for the service's benchmarks: every whole frame
// acknowledged at once, the time of its first and last byte kept by its
// text. On a pseudo-terminal (a serial line) or on a TCP port of
// 127.0.0.1 (a device server), so that the time a text takes to reach the
// panel is the service's and nobody else's.
#include "frame.h"
#include "replyreceiver.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QThread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

// One clock for the whole benchmark, so that a publish and a byte at the
// panel are timed alike.
inline double benchNowMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock.nsecsElapsed() / 1e6;
}

inline double percentile(QList<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.at(qMin(v.size() - 1, int(p * v.size())));
}

template <typename F> bool waitUntil(double timeoutMs, F &&done)
{
    const double end = benchNowMs() + timeoutMs;
    while (!done()) {
        if (benchNowMs() > end) return false;
        QThread::msleep(1);
    }
    return true;
}

class StandIn
{
public:
    enum Kind { PseudoTerminal, Tcp };
    explicit StandIn(Kind kind = PseudoTerminal)
    {
        if (kind == PseudoTerminal) {
            m_fd = posix_openpt(O_RDWR | O_NOCTTY);
            grantpt(m_fd);
            unlockpt(m_fd);
            device = QString::fromLocal8Bit(ptsname(m_fd));
        } else {
            m_listener = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t size = sizeof a;
            bind(m_listener, reinterpret_cast<sockaddr *>(&a), size);
            listen(m_listener, 4);
            getsockname(m_listener, reinterpret_cast<sockaddr *>(&a), &size);
            device = QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(a.sin_port));
        }
        m_thread = std::thread([this] { serve(); });
    }
    ~StandIn()
    {
        m_stop = true;
        m_thread.join();
        if (m_fd >= 0) ::close(m_fd);
        if (m_listener >= 0) ::close(m_listener);
    }
    struct Seen {
        double first = 0, last = 0;
    };
    QHash<QByteArray, Seen> frames()
    {
        QMutexLocker lock(&m_mutex);
        return m_frames;
    }
    Seen frame(const QByteArray &text)
    {
        QMutexLocker lock(&m_mutex);
        return m_frames.value(text);
    }
    QString device; // what the service's configuration names as the line's port

private:
    void serve()
    {
        ReplyReceiver r;
        double first = 0;
        while (!m_stop) {
            pollfd p[2] = {{m_fd, POLLIN, 0}, {m_listener, POLLIN, 0}};
            if (poll(p, 2, 20) <= 0) continue;
            if (p[1].revents & POLLIN) { // the service (re)connects: the newest is the line
                if (m_fd >= 0) ::close(m_fd);
                m_fd = accept(m_listener, nullptr, nullptr);
                // The acknowledgement is one small write: sent at once, as a
                // device server's would be.
                const int one = 1;
                setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                r.reset();
                first = 0;
                continue;
            }
            if (!(p[0].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            const ssize_t n = read(m_fd, buf, sizeof buf);
            if (n <= 0 && m_listener >= 0) { // the service hung up; wait for it again
                ::close(m_fd);
                m_fd = -1;
                continue;
            }
            for (ssize_t i = 0; i < n; ++i) {
                if (first == 0) first = benchNowMs();
                if (!r.feed(quint8(buf[i]))) continue;
                const QByteArray ack = frame::build(qint16(r.address()), QByteArray(1, char(6)));
                (void)!write(m_fd, ack.constData(), size_t(ack.size()));
                QMutexLocker lock(&m_mutex);
                m_frames.insert(r.payload().chopped(1).mid(1), {first, benchNowMs()});
                r.reset();
                first = 0;
            }
        }
    }
    int m_fd = -1, m_listener = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    QMutex m_mutex;
    QHash<QByteArray, Seen> m_frames;
};
