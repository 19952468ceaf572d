#include "tcpline.h"

#include <QUrl>

#ifdef Q_OS_LINUX
#include <linux/sockios.h>
#include <sys/ioctl.h>
#endif

namespace
{
constexpr int kConnectTimeoutMs = 3000;
} // namespace

TcpLine::TcpLine(QObject *parent) : DeviceLine(parent), m_socket(this)
{
    connect(&m_socket, &QTcpSocket::readyRead, this, &DeviceLine::activity);
    connect(&m_socket, &QTcpSocket::bytesWritten, this, &DeviceLine::activity);
    connect(&m_socket, &QTcpSocket::disconnected, this,
            [this] { drop(QStringLiteral("%1: a conexão foi encerrada").arg(m_name)); });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::SocketTimeoutError) return;
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
    m_socket.connectToHost(url.host(), quint16(url.port()));
    if (!m_socket.waitForConnected(kConnectTimeoutMs)) {
        const bool refused = m_socket.error() == QAbstractSocket::ConnectionRefusedError;
        const bool unknown = m_socket.error() == QAbstractSocket::HostNotFoundError;
        return fail(QStringLiteral("%1: %2").arg(
            m_name, refused   ? QStringLiteral("conexão recusada")
                    : unknown ? QStringLiteral("servidor não encontrado")
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

void TcpLine::drop(const QString &why)
{
    if (m_socket.state() == QAbstractSocket::UnconnectedState && !m_socket.isOpen()) return;
    m_error = why;
    m_socket.abort();
    Q_EMIT lost();
    Q_EMIT activity();
}

bool TcpLine::isOpen() const
{
    return m_socket.state() == QAbstractSocket::ConnectedState;
}

void TcpLine::discardOutput()
{
    // Bytes handed to the network cannot be called back; there are none
    // between exchanges, since each waits for its frame to leave.
}

void TcpLine::discardInput()
{
    if (isOpen()) m_socket.readAll();
}

bool TcpLine::writeByte(quint8 b)
{
    if (!isOpen()) return false;
    const char c = char(b);
    if (m_socket.write(&c, 1) != 1) return false;
    m_socket.flush();
    return isOpen();
}

qint64 TcpLine::outputPending()
{
    if (!isOpen()) return -1;
    if (m_socket.bytesToWrite() > 0) {
        m_socket.flush();
        return m_socket.bytesToWrite();
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
