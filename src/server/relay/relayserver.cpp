#include "relayserver.h"

#include "letreiroservice.h"
#include "logging.h"
#include "relayrequest.h"
#include "threadhandoff.h"

#include <QPointer>
#include <QLocale>
#include <QTcpServer>
#include <QTcpSocket>

namespace
{
QByteArray answerFrame(qint16 address, const QByteArray &reply)
{
    const auto length = quint16(reply.size() + 3);
    QByteArray answer;
    answer.append(char(0x81)).append(char(0x7E));
    answer.append(char(length & 0xFF)).append(char(length >> 8));
    answer.append(char(quint16(address) & 0xFF)).append(char(quint16(address) >> 8));
    answer.append(char(0xFF)).append(char(0xFF)).append(reply);
    return answer;
}

// A duration for the log: "0,5 s", never "0 s" for a bound under a second.
QString seconds(int ms)
{
    return QLocale(QLocale::Portuguese, QLocale::Brazil).toString(ms / 1000.0, 'g', 6) +
           QStringLiteral(" s");
}
} // namespace

RelayServer::RelayServer(QString line, LetreiroService &service, QObject *parent)
    : QObject(parent), m_line(std::move(line)), m_service(service),
      m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &RelayServer::accept);
    connect(&service, &LetreiroService::stopping, this, &RelayServer::stop);
}

Result<> RelayServer::allow(const QStringList &subnets)
{
    const Result<Subnets> parsed = Subnets::parse(
        subnets.isEmpty() ? QStringList{QStringLiteral("127.0.0.0/8"), QStringLiteral("::1/128")}
                          : subnets);
    if (!parsed)
        return Failure::invalid(
            QStringLiteral("repasse_de da linha %1: \"%2\" não é um endereço nem uma rede")
                .arg(m_line, parsed.why()));
    m_allowed = *parsed;
    return {};
}

Result<> RelayServer::listen(const QString &host, quint16 port)
{
    if (m_server->listen(QHostAddress(host), port)) return {};
    return Failure::io(QStringLiteral("repasse da linha %1: não foi possível escutar em %2:%3")
                           .arg(m_line, host)
                           .arg(port));
}

quint16 RelayServer::port() const
{
    return m_server->serverPort();
}

void RelayServer::stop()
{
    m_stopped = true;
    m_server->close();
}

void RelayServer::setBounds(int perAddress, int total, int frameMs)
{
    m_maxPerAddress = perAddress;
    m_maxClients = total;
    m_frameMs = frameMs;
}

bool RelayServer::allowed(const QHostAddress &peer) const
{
    return m_allowed.contains(peer);
}

void RelayServer::accept()
{
    while (QTcpSocket *s = m_server->nextPendingConnection()) {
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        if (!allowed(s->peerAddress())) {
            qCWarning(lcRelay, "repasse da linha %s: %s não pode se conectar",
                      qUtf8Printable(m_line), qUtf8Printable(s->peerAddress().toString()));
            s->abort();
            s->deleteLater();
            continue;
        }
        if (!admit(s)) {
            s->abort();
            s->deleteLater();
            continue;
        }
        connect(s, &QTcpSocket::readyRead, this, [this, s] { readFrom(s); });
    }
}

QTcpSocket *RelayServer::idlest(const QString &address) const
{
    QTcpSocket *found = nullptr;
    qint64 since = 0;
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
        const Client &c = **it;
        if (c.waiting || c.reader.started() || (!address.isEmpty() && c.address != address))
            continue;
        if (!found || c.lastActive < since) {
            found = it.key();
            since = c.lastActive;
        }
    }
    return found;
}

bool RelayServer::admit(QTcpSocket *s)
{
    const QString address = s->peerAddress().toString();
    const bool perAddressFull = m_perAddress.value(address) >= m_maxPerAddress;
    if (perAddressFull || m_clients.size() >= m_maxClients) {
        // The one idle longest makes room: of this address at its bound,
        // of anyone at the total.
        QTcpSocket *idle = idlest(perAddressFull ? address : QString());
        if (!idle) {
            if (!m_refusing)
                qCWarning(lcRelay, "repasse da linha %s: conexões demais, todas em uso (a última "
                                   "de %s); as novas são fechadas",
                          qUtf8Printable(m_line), qUtf8Printable(address));
            m_refusing = true;
            return false;
        }
        qCInfo(lcRelay, "repasse da linha %s: conexão parada de %s fechada para dar lugar a %s",
               qUtf8Printable(m_line), qUtf8Printable(m_clients.value(idle)->address),
               qUtf8Printable(address));
        forget(idle);
        idle->abort();
    }
    m_refusing = false;
    auto client = std::make_shared<Client>();
    client->address = address;
    client->lastActive = m_service.clock().monotonicMs();
    m_clients.insert(s, client);
    ++m_perAddress[address];
    connect(s, &QObject::destroyed, this, [this, s] { forget(s); });
    return true;
}

void RelayServer::forget(QTcpSocket *s)
{
    const std::shared_ptr<Client> client = m_clients.take(s);
    if (client && --m_perAddress[client->address] <= 0) m_perAddress.remove(client->address);
}

void RelayServer::frameDeadline(QTcpSocket *s, qint64 from)
{
    m_service.clock().after(m_frameMs, s, [this, s, from] {
        const std::shared_ptr<Client> client = m_clients.value(s);
        // Only the frame that started then, if it has not come whole since.
        if (!client || client->frameFrom != from) return;
        qCWarning(lcRelay, "repasse da linha %s: quadro de %s não terminou em %s; conexão fechada",
                  qUtf8Printable(m_line), qUtf8Printable(client->address),
                  qUtf8Printable(seconds(m_frameMs)));
        s->abort();
    });
}

void RelayServer::readFrom(QTcpSocket *s)
{
    const std::shared_ptr<Client> client = m_clients.value(s);
    if (!client || client->waiting || m_stopped) return;
    char b = 0;
    while (s->getChar(&b)) {
        const RelayRequestReader::State state = client->reader.feed(quint8(b));
        // From a frame's first byte it must come whole in time; between
        // frames a client may keep its connection, as a program that holds
        // its "device server" open does.
        if (state == RelayRequestReader::State::NeedMore) {
            if (client->frameFrom < 0) {
                client->frameFrom = m_service.clock().monotonicMs();
                frameDeadline(s, client->frameFrom);
            }
            continue;
        }
        if (state == RelayRequestReader::State::Bad) {
            qCWarning(lcRelay, "repasse da linha %s: %s de %s; conexão fechada",
                      qUtf8Printable(m_line), qUtf8Printable(client->reader.why()),
                      qUtf8Printable(s->peerAddress().toString()));
            s->abort();
            return;
        }
        const qint16 address = client->reader.address();
        const QByteArray data = client->reader.data();
        client->reader.reset();
        client->waiting = true;
        client->frameFrom = -1;
        m_service.sendFrame(m_line, address, data,
                            [this, self = QPointer<RelayServer>(this),
                             socket = QPointer<QTcpSocket>(s), address,
                             client](const FrameResult &r) {
                                // The relay may be gone before the line answers.
                                if (!self) return;
                                client->waiting = false;
                                client->lastActive = m_service.clock().monotonicMs();
                                if (!socket) return;
                                // A panel answers only a frame to its own address.
                                if (r.ran && address != 0 && r.reply.size() >= 2)
                                    socket->write(answerFrame(address, r.reply));
                                handoff::queue(this, [this, socket] {
                                    if (socket) readFrom(socket);
                                });
                            });
        return;
    }
}
