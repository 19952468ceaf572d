#include "emulator.h"

#include "cliargs.h"
#include "frame.h"
#include "replyreceiver.h"
#include "wiredecoder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMap>
#include <QSocketNotifier>
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

#ifdef Q_OS_UNIX
namespace
{

// What the panel does after a frame addressed to it: answer, stay silent,
// hang up the line (a pulled-out adapter), or babble bytes that never form
// an answer (a faulty device).
enum class Answer { Ack, Nak, None, HangUp, Noise };

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}

class PanelEmulator
{
public:
    PanelEmulator(qint16 address, Answer answer) : m_address(address), m_answer(answer) {}
    ~PanelEmulator()
    {
        if (m_slave >= 0) ::close(m_slave);
        if (m_master >= 0) ::close(m_master);
    }

    bool open(QString *device, QString *error)
    {
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
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated,
                         [this] { readAvailable(); });
        return true;
    }

private:
    void readAvailable()
    {
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0) return;
            for (ssize_t i = 0; i < n; ++i) {
                if (m_receiver.feed(quint8(buf[i]))) {
                    frameReceived();
                    m_receiver.reset();
                }
            }
        }
    }

    void frameReceived()
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
        if (address == 0 || address != m_address || m_answer == Answer::None) return;
        if (m_answer == Answer::HangUp) {
            m_notifier.reset();
            ::close(m_slave);
            ::close(m_master);
            m_slave = m_master = -1;
            return;
        }
        if (m_answer == Answer::Noise) {
            QObject::connect(&m_noise, &QTimer::timeout, [this] {
                const char junk = 0x55;
                [[maybe_unused]] const auto n = ::write(m_master, &junk, 1);
            });
            m_noise.start(20);
            return;
        }
        const char code = char(m_answer == Answer::Ack ? frame::kAck : frame::kNak);
        const QByteArray reply = frame::build(m_address, QByteArray(1, code));
        [[maybe_unused]] const auto n = ::write(m_master, reply.constData(), size_t(reply.size()));
    }

    qint16 m_address;
    Answer m_answer;
    int m_master = -1;
    int m_slave = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_noise;
    ReplyReceiver m_receiver;
};

} // namespace
#endif

int runEmulator(const QStringList &args)
{
    QCommandLineParser p;
    const QCommandLineOption address(QStringLiteral("endereco"), QString(), QStringLiteral("A"));
    const QCommandLineOption answer(QStringLiteral("resposta"), QString(),
                                    QStringLiteral("ack|nak|nenhuma|desliga|ruido"));
    p.addOption(address);
    p.addOption(answer);
    if (!parseArgs(p, args, 0)) return ExitUsage;
    const auto addr = intOption(p.isSet(address) ? p.value(address) : QStringLiteral("1"), 1, 31);
    if (!addr) return usageError(QStringLiteral("--endereco deve ser um número de 1 a 31"));
    const QString a = p.isSet(answer) ? p.value(answer) : QStringLiteral("ack");
    static const QMap<QString, int> answers = {{QStringLiteral("ack"), 0},
                                               {QStringLiteral("nak"), 1},
                                               {QStringLiteral("nenhuma"), 2},
                                               {QStringLiteral("desliga"), 3},
                                               {QStringLiteral("ruido"), 4}};
    if (!answers.contains(a))
        return usageError(
            QStringLiteral("--resposta deve ser ack, nak, nenhuma, desliga ou ruido"));
#ifdef Q_OS_UNIX
    const auto mode = Answer(answers.value(a));
    PanelEmulator emulator(qint16(*addr), mode);
    QString device, error;
    if (!emulator.open(&device, &error)) {
        printErr(QStringLiteral("letreiro-cli: não foi possível criar o pseudo-terminal: ") +
                 error);
        return ExitUsage;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        printErr(QStringLiteral("letreiro-cli: ") + QString::fromLocal8Bit(std::strerror(errno)));
        return ExitUsage;
    }
    QSocketNotifier stop(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
    struct sigaction sa {
    };
    sa.sa_handler = onSignal;
    ::sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    printOut(device);
    return QCoreApplication::exec() == 0 ? ExitOk : ExitUsage;
#else
    printErr(QStringLiteral("letreiro-cli: o emulador de painel precisa de pseudo-terminais, "
                            "que este sistema não tem."));
    return ExitUsage;
#endif
}
