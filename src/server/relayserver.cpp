#include "relayserver.h"

#include "relayrequest.h"
#include "threadhandoff.h"

#include <QPointer>
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
} // namespace

RelayServer::RelayServer(QString line, Submit submit, QObject *parent)
    : QObject(parent), m_line(std::move(line)), m_submit(std::move(submit)),
      m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &RelayServer::accept);
}

bool RelayServer::allow(const QStringList &subnets, QString *error)
{
    m_allowed.clear();
    const QStringList list =
        subnets.isEmpty() ? QStringList{QStringLiteral("127.0.0.0/8"), QStringLiteral("::1/128")}
                          : subnets;
    for (const QString &s : list) {
        QPair<QHostAddress, int> subnet;
        if (s.contains(u'/')) {
            subnet = QHostAddress::parseSubnet(s);
        } else {
            subnet.first = QHostAddress(s);
            subnet.second = subnet.first.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
        }
        if (subnet.first.isNull()) {
            *error = QStringLiteral("repasse_de da linha %1: \"%2\" não é um endereço nem uma "
                                    "rede")
                         .arg(m_line, s);
            return false;
        }
        m_allowed.append(subnet);
    }
    return true;
}

bool RelayServer::listen(const QString &host, quint16 port, QString *error)
{
    if (m_server->listen(QHostAddress(host), port)) return true;
    *error = QStringLiteral("repasse da linha %1: não foi possível escutar em %2:%3")
                 .arg(m_line, host)
                 .arg(port);
    return false;
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
    bool v4 = false;
    const QHostAddress plain(peer.toIPv4Address(&v4));
    for (const auto &subnet : m_allowed)
        if (peer.isInSubnet(subnet) || (v4 && plain.isInSubnet(subnet))) return true;
    return false;
}

void RelayServer::accept()
{
    while (QTcpSocket *s = m_server->nextPendingConnection()) {
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        if (!allowed(s->peerAddress())) {
            qWarning("letreiro-servidor: repasse da linha %s: %s não pode se conectar",
                     qPrintable(m_line), qPrintable(s->peerAddress().toString()));
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
            qWarning("letreiro-servidor: repasse da linha %s: conexões demais (a última de %s); "
                     "as novas são fechadas",
                     qPrintable(m_line), qPrintable(address));
        m_refusing = true;
        return false;
    }
    m_refusing = false;
    auto client = std::make_shared<Client>();
    client->deadline = new QTimer(s);
    client->deadline->setSingleShot(true);
    connect(client->deadline, &QTimer::timeout, s, [this, s, address] {
        qWarning("letreiro-servidor: repasse da linha %s: quadro de %s não terminou em %d s; "
                 "conexão fechada",
                 qPrintable(m_line), qPrintable(address), m_frameMs / 1000);
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
            qWarning("letreiro-servidor: repasse da linha %s: %s de %s; conexão fechada",
                     qPrintable(m_line), qPrintable(client->reader.why()),
                     qPrintable(s->peerAddress().toString()));
            s->abort();
            return;
        }
        auto job = std::make_shared<PanelJob>();
        job->kind = PanelJob::Kind::Relay;
        job->who = QStringLiteral("repasse");
        job->address = client->reader.address();
        job->panel = QStringLiteral("linha %1, endereço %2").arg(m_line).arg(job->address);
        job->what = QString::fromLatin1(client->reader.data().left(1));
        const qint16 address = job->address;
        const QByteArray data = client->reader.data();
        job->work = [address, data](PanelCommands &c) { return c.relay(address, data); };
        client->reader.reset();
        client->waiting = true;
        client->deadline->stop();
        job->done = [this, socket = QPointer<QTcpSocket>(s), address, client](const JobResult &r) {
            client->waiting = false;
            if (!socket) return;
            // A panel answers only a frame to its own address.
            if (r.end == JobResult::End::Ran && address != 0 && r.outcome.reply.size() >= 2)
                socket->write(answerFrame(address, r.outcome.reply));
            handoff::queue(this, [this, socket] {
                if (socket) readFrom(socket);
            });
        };
        m_submit(std::move(job));
        return;
    }
}
