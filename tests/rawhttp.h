#pragma once

// A raw HTTP client on 127.0.0.1 for tests and benchmarks that must send
// what no well-behaved library sends: a header a byte at a time, thousands
// of fields, a body that never comes, half of a connection closed.
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>

#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

struct RawClient {
    int fd = -1;
    QByteArray pending; // bytes of the next answer, already read

    // from: the client's own address (another of 127.0.0.0/8), or the default.
    explicit RawClient(quint16 port, const char *from = nullptr)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        if (from) {
            ::inet_pton(AF_INET, from, &a.sin_addr);
            ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        }
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            ::close(fd);
            fd = -1;
        }
        const int one = 1;
        if (fd >= 0) ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~RawClient()
    {
        if (fd >= 0) ::close(fd);
    }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    // False once the server has closed or reset the connection.
    bool send(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (fd >= 0 && done < bytes.size()) {
            const ssize_t n =
                ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += n;
        }
        return fd >= 0;
    }

    // One whole answer (its header and Content-Length bytes of body), or
    // what came before the connection closed or the deadline passed.
    // `head`: the answer to a HEAD, whose Content-Length counts no body.
    QByteArray response(int ms = 5000, bool head = false)
    {
        QByteArray got = std::exchange(pending, {});
        QElapsedTimer t;
        t.start();
        while (wholeLength(got, head) < 0 && t.elapsed() < ms) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, int(ms - t.elapsed())) <= 0) break;
            char chunk[65536];
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            got.append(chunk, n);
        }
        const qsizetype length = wholeLength(got, head);
        if (length >= 0) pending = got.mid(length);
        return length >= 0 ? got.left(length) : got;
    }

    // The server closed the connection within the time (a read sees its end).
    bool closedWithin(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, int(ms - t.elapsed())) <= 0) return false;
            char chunk[4096];
            if (::recv(fd, chunk, sizeof chunk, 0) <= 0) return true;
        }
        return false;
    }

    static int status(const QByteArray &answer)
    {
        return answer.startsWith("HTTP/1.") ? answer.mid(9, 3).toInt() : 0;
    }

    // The length of the first whole answer in the bytes, or -1.
    static qsizetype wholeLength(const QByteArray &got, bool headOnly = false)
    {
        const qsizetype end = got.indexOf("\r\n\r\n");
        if (end < 0) return -1;
        if (headOnly) return end + 4;
        const QByteArray head = got.left(end).toLower();
        const qsizetype at = head.indexOf("\r\ncontent-length:");
        const qsizetype length =
            at < 0 ? 0 : head.mid(at + 17).split('\r').first().trimmed().toLongLong();
        return got.size() >= end + 4 + length ? end + 4 + length : -1;
    }
};
