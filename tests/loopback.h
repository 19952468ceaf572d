#pragma once

// Peers on 127.0.0.1 that misbehave in ways QTcpServer hides: a small
// receive window, a listen queue nobody empties. For tests and benchmarks.
#include <QString>
#include <QTcpSocket>

#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A listening socket on a free port of 127.0.0.1, with a receive buffer of
// `receiveBuffer` bytes when given (what accepted connections inherit).
struct LoopbackListener {
    int socket = -1;
    quint16 port = 0;

    explicit LoopbackListener(int backlog, int receiveBuffer = 0)
    {
        socket = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(socket, reinterpret_cast<sockaddr *>(&a), len) != 0 ||
            ::listen(socket, backlog) != 0) {
            ::close(socket);
            socket = -1;
            return;
        }
        ::getsockname(socket, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~LoopbackListener()
    {
        if (socket >= 0) ::close(socket);
    }
    LoopbackListener(const LoopbackListener &) = delete;
    LoopbackListener &operator=(const LoopbackListener &) = delete;

    QString device() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(port); }
};

// A device server that never accepts: its listen queue is filled by
// connections of its own, so a new one hangs until the client gives up.
struct UnreachableServer {
    LoopbackListener listener{0};
    std::vector<std::unique_ptr<QTcpSocket>> fillers;

    UnreachableServer()
    {
        for (int i = 0; i < 8; ++i) {
            fillers.push_back(std::make_unique<QTcpSocket>());
            fillers.back()->connectToHost(QStringLiteral("127.0.0.1"), listener.port);
            fillers.back()->waitForConnected(200);
        }
    }
    QString device() const { return listener.device(); }
};
#endif
