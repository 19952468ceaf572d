#pragma once

#include "relayrequest.h"
#include "result.h"
#include "serverconfig.h"
#include "subnets.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>

#include <functional>

class LetreiroService;
class QTcpServer;
class QTcpSocket;

// A line's relay: a TCP port on which other programs reach the line as a
// serial device server would. It speaks only the panel's protocol: each
// client's frames are read and checked as a panel checks them, one at a
// time (the next is read only once the answer to the last went back, so a
// client that floods waits for itself), and whatever is not a frame closes
// the connection with nothing forwarded. Only the addresses allowed may
// connect; others are closed at once and logged. Connections are bounded per
// address and in all: at a bound, the connection idle longest gives way to
// the new one (programs keep theirs open between frames and connect again),
// and only when none is idle is the new one refused. A frame must come
// whole within a while of its first byte (a client that trickles a frame
// holds nobody up for long), on the service's clock.
class RelayServer : public QObject
{
    Q_OBJECT
public:
    // Frames go to the line through the service, which stops the relay
    // when it stops.
    RelayServer(QString line, LetreiroService &service, QObject *parent = nullptr);

    // Who may connect ("127.0.0.1/32, 192.168.10.0/24"; empty: this machine
    // only); a list that cannot be read is refused with the reason.
    Result<> allow(const QStringList &subnets);
    Result<> listen(const QString &host, quint16 port);
    quint16 port() const;
    const QString &line() const { return m_line; }
    // Takes no new client and reads no further frame.
    void stop();
    // Connections kept per address and in all (beyond them a new one is
    // closed at once), and how long one may take to send a whole frame.
    void setBounds(int perAddress, int total, int frameMs);

private:
    void accept();
    void readFrom(QTcpSocket *client);
    bool allowed(const QHostAddress &peer) const;

    bool admit(QTcpSocket *s);
    void forget(QTcpSocket *s);

    struct Client {
        QString address;
        RelayRequestReader reader;
        bool waiting = false;   // its frame is on the line; nothing more is read
        qint64 frameFrom = -1;  // the frame under way's first byte, on the service clock
        qint64 lastActive = 0;  // its last frame's end or answer, on the service clock
    };
    // The connection idle longest (no frame under way or waiting), among
    // one address's or all; nullptr when every one is busy.
    QTcpSocket *idlest(const QString &address) const;
    void frameDeadline(QTcpSocket *s, qint64 from);

    QString m_line;
    LetreiroService &m_service;
    QTcpServer *m_server;
    Subnets m_allowed;
    QHash<QTcpSocket *, std::shared_ptr<Client>> m_clients;
    QHash<QString, int> m_perAddress;
    int m_maxPerAddress = 64;
    int m_maxClients = ServerConfig::kRelayMaxClients;
    int m_frameMs = 30000;
    bool m_refusing = false; // logged once until one is let in again
    bool m_stopped = false;
};
