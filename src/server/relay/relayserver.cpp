#include "relayserver.h"

#include "letreiroservice.h"
#include "logging.h"
#include "relayrequest.h"
#include "threadhandoff.h"

#include <QPointer>
#include <QLocale>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

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

bool RelayServer::admit(QTcpSocket *s)
{
    const QString address = s->peerAddress().toString();
    if (m_clients.size() >= m_maxClients || m_perAddress.value(address) >= m_maxPerAddress) {
        if (!m_refusing)
            qCWarning(lcRelay, "repasse da linha %s: conexões demais (a última de %s); "
                               "as novas são fechadas",
                      qUtf8Printable(m_line), qUtf8Printable(address));
        m_refusing = true;
        return false;
    }
    m_refusing = false;
    auto client = std::make_shared<Client>();
    client->deadline = new QTimer(s);
    client->deadline->setSingleShot(true);
    connect(client->deadline, &QTimer::timeout, s, [this, s, address] {
        qCWarning(lcRelay, "repasse da linha %s: quadro de %s não terminou em %s; conexão fechada",
                  qUtf8Printable(m_line), qUtf8Printable(address),
                  qUtf8Printable(seconds(m_frameMs)));
        s->abort();
    });
    m_clients.insert(s, client);
    ++m_perAddress[address];
    connect(s, &QObject::destroyed, this, [this, s, address] {
        m_clients.remove(s);
        if (--m_perAddress[address] <= 0) m_perAddress.remove(address);
    });
    return true;
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
            if (!client->deadline->isActive()) client->deadline->start(m_frameMs);
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
        client->deadline->stop();
        m_service.sendFrame(m_line, address, data,
                            [this, socket = QPointer<QTcpSocket>(s), address,
                             client](const FrameResult &r) {
                                client->waiting = false;
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
