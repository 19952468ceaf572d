// How late the window's event loop gets while the port's worker talks to a
// panel: a maximal message written to the emulator with the USB adapter
// option (a pause of 0.1 s before every byte, over twelve minutes in all),
// watched for 5 s; an exchange that waits the full 1.5 s for an answer that
// never comes; and a device server that never accepts the connection.
#include "benchutil.h"
#include "panelport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include "loopback.h"

namespace
{

// The worst delay of a 10 ms timer from `start` until `done` is emitted.
template <typename Signal>
double worstLatenessMs(PanelPort &port, Signal done, const std::function<void()> &start)
{
    QElapsedTimer clock;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    qint64 expected = 0;
    double worst = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (expected > 0) worst = std::max(worst, double(now - expected) / 1e6);
        expected = now + 10'000'000;
    });
    // The benchmark's own loop stands for the window's.
    QEventLoop loop;
    const auto c = QObject::connect(&port, done, &loop, &QEventLoop::quit);
    clock.start();
    tick.start(10);
    start();
    loop.exec();
    QObject::disconnect(c);
    tick.stop();
    return worst;
}

QString startEmulator(QProcess &p, const QStringList &args)
{
    p.start(QStringLiteral(LETREIRO_CLI), QStringList{QStringLiteral("painel")} + args);
    p.waitForReadyRead(5000);
    return QString::fromUtf8(p.readLine()).trimmed();
}

bool openPort(PanelPort &port)
{
    bool ok = false;
    QEventLoop loop;
    QObject::connect(&port, &PanelPort::opened, &loop, [&](bool opened, const QString &reason) {
        ok = opened;
        if (!opened) std::printf("%s\n", qPrintable(reason));
        loop.quit();
    });
    port.open(1);
    loop.exec();
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QProcess emulator;
    qputenv("LETREIRO_PORTAS", "COM1=" + startEmulator(emulator, {}).toUtf8());
    SerialPanelPort port;
    if (!openPort(port)) return 1;
    // The panel hangs up after 5 s; the exchange then ends at once.
    QTimer::singleShot(5000, [&] { emulator.kill(); });
    const QByteArray message = 'L' + QByteArray(7499, 'x');
    const double usb = worstLatenessMs(port, &PanelPort::finished, [&] {
        port.run(LinkOptions{0, true}, [message](PanelCommands &c) { return c.transfer(1, message); });
    });
    report("event loop lateness, 5 s of a USB-paced 7509-byte write", usb, "ms", "<= 50 ms",
           usb <= 50);

    QProcess silent;
    const QStringList none{QStringLiteral("--resposta"), QStringLiteral("nenhuma")};
    qputenv("LETREIRO_PORTAS", "COM1=" + startEmulator(silent, none).toUtf8());
    SerialPanelPort quiet;
    if (!openPort(quiet)) return 1;
    const double wait = worstLatenessMs(quiet, &PanelPort::finished, [&] {
        quiet.run(LinkOptions{}, [](PanelCommands &c) { return c.letter(1, 'P'); });
    });
    report("event loop lateness, waiting 1.5 s for an answer", wait, "ms", "<= 50 ms", wait <= 50);
    emulator.terminate();
    silent.terminate();
    emulator.waitForFinished();
    silent.waitForFinished();

#ifdef Q_OS_UNIX
    // A device server whose listen queue is full: connections hang in
    // SYN_SENT until the 5 s limit.
    const UnreachableServer server;
    const QString device = server.device();
    qputenv("LETREIRO_PORTAS", "COM1=" + device.toUtf8());
    SerialPanelPort unreachable;
    QElapsedTimer took;
    took.start();
    const double connecting =
        worstLatenessMs(unreachable, &PanelPort::opened, [&] { unreachable.open(1); });
    report("event loop lateness, a device server that never accepts", connecting, "ms",
           "<= 50 ms", connecting <= 50);
    report("  the connection given up after", double(took.elapsed()) / 1000, "s", "5 s", true);
#endif
    return 0;
}
