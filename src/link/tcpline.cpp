#include "tcpline.h"

#include <QDeadlineTimer>
#include <QHostInfo>
#include <QSemaphore>
#include <QThreadPool>
#include <QUrl>

#include <memory>

#ifdef Q_OS_LINUX
#include <linux/sockios.h>
#include <sys/ioctl.h>
#endif

namespace
{

// A name lookup that may be abandoned: a DNS server that never answers keeps
// the lookup's own thread, not the line's owner, past the limit.
QList<QHostAddress> lookUp(const QString &host, QDeadlineTimer deadline, bool *timedOut)
{
    *timedOut = false;
    QHostAddress literal;
    if (literal.setAddress(host)) return {literal};
    struct Shared {
        QSemaphore done;
        QList<QHostAddress> addresses;
    };
    auto shared = std::make_shared<Shared>();
    QThreadPool::globalInstance()->start([shared, host] {
        shared->addresses = QHostInfo::fromName(host).addresses();
        shared->done.release();
    });
    if (!shared->done.tryAcquire(1, int(qMax<qint64>(0, deadline.remainingTime())))) {
        *timedOut = true;
        return {};
    }
    return shared->addresses;
}

} // namespace

TcpLine::TcpLine(QObject *parent) : DeviceLine(parent), m_socket(this)
{
    connect(&m_socket, &QTcpSocket::disconnected, this,
            [this] { drop(QStringLiteral("%1: a conexão foi encerrada").arg(m_name)); });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::SocketTimeoutError || !isOpen()) return;
        drop(e == QAbstractSocket::RemoteHostClosedError
                 ? QStringLiteral("%1: a conexão foi encerrada do outro lado").arg(m_name)
                 : QStringLiteral("%1: a conexão caiu").arg(m_name));
    });
}

TcpLine::~TcpLine()
{
    // Closing the socket signals; nothing of this object may hear it now.
    m_socket.disconnect(this);
    m_socket.abort();
}

bool TcpLine::open(const QString &device, QString *error)
{
    close();
    m_error.clear();
    m_device = device;
    const QUrl url(device);
    m_name = url.host() + QLatin1Char(':') + QString::number(url.port());
    const auto fail = [&](const QString &why) {
        m_error = why;
        if (error) *error = why;
        m_socket.abort();
        return false;
    };
    if (!url.isValid() || url.host().isEmpty() || url.port() <= 0)
        return fail(
            QStringLiteral("%1: endereço de rede inválido (use tcp://HOST:PORTA)").arg(device));
    const QDeadlineTimer deadline(kConnectTimeoutMs);
    bool lookupTimedOut = false;
    const QList<QHostAddress> addresses = lookUp(url.host(), deadline, &lookupTimedOut);
    if (addresses.isEmpty())
        return fail(QStringLiteral("%1: %2").arg(
            m_name, lookupTimedOut ? QStringLiteral("o servidor de nomes não respondeu")
                                   : QStringLiteral("servidor não encontrado")));
    m_socket.connectToHost(addresses.constFirst(), quint16(url.port()));
    if (!m_socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime())))) {
        const auto e = m_socket.error();
        return fail(QStringLiteral("%1: %2").arg(
            m_name, e == QAbstractSocket::ConnectionRefusedError ? QStringLiteral("conexão recusada")
                    : e == QAbstractSocket::SocketTimeoutError
                        ? QStringLiteral("o servidor não aceitou a conexão em %1 s")
                              .arg(kConnectTimeoutMs / 1000)
                        : QStringLiteral("não foi possível conectar")));
    }
    // Every byte goes out at once, as on a serial line.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

void TcpLine::close()
{
    m_socket.abort();
}

bool TcpLine::waitForActivity(int ms)
{
    if (!isOpen()) return false;
    if (m_socket.bytesAvailable() > 0) return true;
    return m_socket.waitForReadyRead(ms);
}

void TcpLine::drop(const QString &why)
{
    if (m_socket.state() == QAbstractSocket::UnconnectedState && !m_socket.isOpen()) return;
    m_error = why;
    m_socket.abort();
    Q_EMIT lost(why);
}

void TcpLine::abandonFrame()
{
    if (!isOpen()) return;
    m_socket.abort();
    QString error;
    if (!open(m_device, &error)) Q_EMIT lost(error);
}

bool TcpLine::isOpen() const
{
    return m_socket.state() == QAbstractSocket::ConnectedState;
}

void TcpLine::discardOutput()
{
    // Between exchanges nothing is queued: each waits for its frame to
    // leave, and a frame that could not leaves with its connection.
}

void TcpLine::discardInput()
{
    if (!isOpen()) return;
    // What the kernel holds too, not only what Qt has read so far.
    while (m_socket.bytesAvailable() > 0 || m_socket.waitForReadyRead(0))
        m_socket.readAll();
}

bool TcpLine::writeByte(quint8 b)
{
    if (!isOpen()) return false;
    const char c = char(b);
    if (m_socket.write(&c, 1) != 1) return false;
    return isOpen();
}

qint64 TcpLine::outputPending()
{
    if (!isOpen()) return -1;
    if (m_socket.bytesToWrite() > 0) {
        m_socket.flush();
        if (!isOpen()) return -1;
        if (m_socket.bytesToWrite() > 0) return m_socket.bytesToWrite();
    }
#ifdef Q_OS_LINUX
    // Bytes the kernel has not yet sent. Not SIOCOUTQ, which also counts
    // bytes sent but not yet acknowledged: a peer may hold its
    // acknowledgement back for 40 ms or more, which would be waited for
    // after every byte and every panel, and tells nothing about the panel.
    int unsent = 0;
    if (::ioctl(int(m_socket.socketDescriptor()), SIOCOUTQNSD, &unsent) == 0) return unsent;
#endif
    return 0;
}

qint64 TcpLine::inputAvailable()
{
    if (!isOpen()) return -1;
    return m_socket.bytesAvailable();
}

int TcpLine::readByte()
{
    char c = 0;
    if (!isOpen() || !m_socket.getChar(&c)) return -1;
    return quint8(c);
}

QString TcpLine::errorString() const
{
    return m_error.isEmpty() ? QStringLiteral("conexão fechada") : m_error;
}
