#include "emulator.h"

#include "addresslist.h"
#include "cliargs.h"
#include "frame.h"
#include "replyreceiver.h"
#include "wiredecoder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QMap>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace
{

// What the panel does after a frame addressed to it: answer, stay silent,
// hang up the line (a pulled-out adapter), or babble bytes that never form
// an answer (a faulty device).
enum class Answer { Ack, Nak, None, HangUp, Noise };

// One or more panels on one line: a pseudo-terminal, or a TCP port of
// 127.0.0.1 as a serial device server offers one.
class PanelEmulator
{
public:
    PanelEmulator(QList<int> addresses, Answer answer)
        : m_addresses(std::move(addresses)), m_answer(answer)
    {
        // One stream of noise, however many frames ask for it.
        QObject::connect(&m_noise, &QTimer::timeout, [this] { send(QByteArray(1, 0x55)); });
        m_sinceByte.start();
    }
    ~PanelEmulator() { closePty(); }

    bool openPty(QString *device, QString *error);
    bool listen(quint16 port, QString *device, QString *error);

private:
    void feed(const char *bytes, qint64 n);
    void frameReceived();
    void send(const QByteArray &bytes);
    void hangUp();
    void closePty();

    QList<int> m_addresses;
    Answer m_answer;
    ReplyReceiver m_receiver;
    // A sender that died in the middle of a frame leaves it unfinished; a
    // pause this long means the next byte starts a new one, as on a panel.
    static constexpr qint64 kResyncMs = 500;
    QElapsedTimer m_sinceByte;
    QTimer m_noise;
    // The pseudo-terminal
    int m_master = -1;
    int m_slave = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    // or the TCP port and the connection being served.
    QTcpServer m_server;
    QPointer<QTcpSocket> m_peer;
};

bool PanelEmulator::openPty(QString *device, QString *error)
{
#ifdef Q_OS_UNIX
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    *device = QString::fromLocal8Bit(::ptsname(m_master));
    // Holding the other end open keeps the terminal alive between the
    // program's sessions, and raw mode lets every byte through unchanged.
    m_slave = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY);
    termios t{};
    if (m_slave < 0 || ::tcgetattr(m_slave, &t) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    ::cfmakeraw(&t);
    ::tcsetattr(m_slave, TCSANOW, &t);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        char buf[4096];
        for (ssize_t n; m_master >= 0 && (n = ::read(m_master, buf, sizeof buf)) > 0;)
            feed(buf, n);
    });
    return true;
#else
    Q_UNUSED(device);
    *error = QStringLiteral("este sistema não tem pseudo-terminais; use --tcp PORTA");
    return false;
#endif
}

bool PanelEmulator::listen(quint16 port, QString *device, QString *error)
{
    // Only this machine can reach it: raw TCP has no authentication.
    if (!m_server.listen(QHostAddress::LocalHost, port)) {
        *error = m_server.serverError() == QAbstractSocket::AddressInUseError
                     ? QStringLiteral("a porta TCP %1 já está em uso").arg(port)
                     : QStringLiteral("não foi possível escutar na porta TCP %1").arg(port);
        return false;
    }
    *device = QStringLiteral("tcp://127.0.0.1:%1").arg(m_server.serverPort());
    QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
        // A device server serves one connection at a time; a new one wins.
        while (QTcpSocket *s = m_server.nextPendingConnection()) {
            if (m_peer) m_peer->abort();
            m_peer = s;
            m_receiver.reset();
            QObject::connect(s, &QTcpSocket::readyRead, [this, s] {
                const QByteArray bytes = s->readAll();
                if (s == m_peer) feed(bytes.constData(), bytes.size());
            });
            QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    return true;
}

void PanelEmulator::feed(const char *bytes, qint64 n)
{
    if (n > 0 && m_sinceByte.elapsed() >= kResyncMs) m_receiver.reset();
    m_sinceByte.restart();
    for (qint64 i = 0; i < n; ++i) {
        if (m_receiver.feed(quint8(bytes[i]))) {
            frameReceived();
            m_receiver.reset();
        }
    }
}

void PanelEmulator::frameReceived()
{
    // The receiver keeps the start, the length, the address, 0xFF 0xFF and
    // the payload, which is the data and the check byte.
    const QByteArray &all = m_receiver.collected();
    const QByteArray &payload = m_receiver.payload();
    const qsizetype at = all.size() - payload.size() - 4;
    const auto address = qint16(quint8(all[at]) | quint16(quint8(all[at + 1])) << 8);
    const QByteArray data = payload.chopped(1);
    const bool checkOk = quint8(payload.back()) == frame::checkByte(address, data);
    printOut(QStringLiteral("endereço %1, verificação %2: %3")
                 .arg(address)
                 .arg(checkOk ? QStringLiteral("certa") : QStringLiteral("errada"))
                 .arg(decodeWireData(data)));
    if (address == 0 || !m_addresses.contains(address) || m_answer == Answer::None) return;
    switch (m_answer) {
    case Answer::HangUp:
        hangUp();
        return;
    case Answer::Noise:
        if (!m_noise.isActive()) m_noise.start(20);
        return;
    default:
        break;
    }
    const char code = char(m_answer == Answer::Ack ? frame::kAck : frame::kNak);
    send(frame::build(address, QByteArray(1, code)));
}

void PanelEmulator::send(const QByteArray &bytes)
{
    if (m_peer) {
        m_peer->write(bytes);
        return;
    }
#ifdef Q_OS_UNIX
    if (m_master >= 0) {
        [[maybe_unused]] const auto n = ::write(m_master, bytes.constData(), size_t(bytes.size()));
    }
#endif
}

void PanelEmulator::hangUp()
{
    if (m_peer) m_peer->abort();
    closePty();
}

void PanelEmulator::closePty()
{
#ifdef Q_OS_UNIX
    m_notifier.reset();
    if (m_slave >= 0) ::close(m_slave);
    if (m_master >= 0) ::close(m_master);
    m_slave = m_master = -1;
#endif
}

#ifdef Q_OS_UNIX
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}

// SIGINT and SIGTERM end the event loop, so the emulator closes cleanly.
bool quitOnSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) return false;
    auto *stop =
        new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(stop, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
    struct sigaction sa {
    };
    sa.sa_handler = onSignal;
    ::sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    return true;
}
#endif

} // namespace

int runEmulator(const QStringList &args)
{
    QCommandLineParser p;
    const QCommandLineOption address(QStringLiteral("endereco"), QString(), QStringLiteral("A"));
    const QCommandLineOption answer(QStringLiteral("resposta"), QString(),
                                    QStringLiteral("ack|nak|nenhuma|desliga|ruido"));
    const QCommandLineOption tcp(QStringLiteral("tcp"), QString(), QStringLiteral("PORTA"));
    p.addOption(address);
    p.addOption(answer);
    p.addOption(tcp);
    if (const auto stop = parseArgs(p, args, 0)) return *stop;
    const auto addresses =
        parseAddressList(p.isSet(address) ? p.value(address) : QStringLiteral("1"), 1, 31);
    if (!addresses)
        return usageError(QStringLiteral("--endereco deve ser uma lista de 1 a 31, como 1,3,5-7"));
    static const QMap<QString, Answer> answers = {{QStringLiteral("ack"), Answer::Ack},
                                                  {QStringLiteral("nak"), Answer::Nak},
                                                  {QStringLiteral("nenhuma"), Answer::None},
                                                  {QStringLiteral("desliga"), Answer::HangUp},
                                                  {QStringLiteral("ruido"), Answer::Noise}};
    const QString a = p.isSet(answer) ? p.value(answer) : QStringLiteral("ack");
    if (!answers.contains(a))
        return usageError(
            QStringLiteral("--resposta deve ser ack, nak, nenhuma, desliga ou ruido"));
    std::optional<int> port;
    if (p.isSet(tcp)) {
        port = intOption(p.value(tcp), 0, 65535);
        if (!port) return usageError(QStringLiteral("--tcp deve ser uma porta de 0 a 65535"));
    }

    PanelEmulator emulator(*addresses, answers.value(a));
    QString device, error;
    const bool open =
        port ? emulator.listen(quint16(*port), &device, &error) : emulator.openPty(&device, &error);
    if (!open) {
        printError(QStringLiteral("não foi possível abrir a linha do painel: ") + error);
        return ExitUsage;
    }
#ifdef Q_OS_UNIX
    if (!quitOnSignals()) {
        printError(QString::fromLocal8Bit(std::strerror(errno)));
        return ExitUsage;
    }
#endif
    printOut(device);
    return QCoreApplication::exec() == 0 ? ExitOk : ExitUsage;
}
