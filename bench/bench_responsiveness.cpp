// How late the event loop gets while the link talks to a panel: a maximal
// message written to the emulator with the USB adapter option (a pause of
// 0.1 s before every byte, over twelve minutes in all), watched for 5 s, and
// an exchange that waits the full 1.5 s for an answer that never comes. The
// exchanges run on the port's own thread, as in the desktop program.
#include "benchutil.h"
#include "panelport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>

namespace
{

// The worst delay of a 10 ms timer while `exchange` runs.
double worstLatenessMs(const std::function<void()> &exchange)
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
    clock.start();
    tick.start(10);
    exchange();
    tick.stop();
    return worst;
}

QString startEmulator(QProcess &p, const QStringList &args)
{
    p.start(QStringLiteral(LETREIRO_CLI), QStringList{QStringLiteral("painel")} + args);
    p.waitForReadyRead(5000);
    return QString::fromUtf8(p.readLine()).trimmed();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QProcess emulator;
    qputenv("LETREIRO_PORTAS", "COM1=" + startEmulator(emulator, {}).toUtf8());
    SerialPanelPort port;
    QString reason;
    if (!port.open(1, &reason)) {
        std::printf("%s\n", qPrintable(reason));
        return 1;
    }
    // The panel hangs up after 5 s; the exchange then ends at once.
    QTimer::singleShot(5000, [&] { emulator.kill(); });
    const QByteArray message = 'L' + QByteArray(7499, 'x');
    const double usb = worstLatenessMs([&] {
        port.run(LinkOptions{0, true}, nullptr,
                 [&](PanelCommands &c) { return c.transfer(1, message); });
    });
    report("event loop lateness, 5 s of a USB-paced 7509-byte write", usb, "ms", "<= 50 ms",
           usb <= 50);

    QProcess silent;
    const QStringList none{QStringLiteral("--resposta"), QStringLiteral("nenhuma")};
    qputenv("LETREIRO_PORTAS", "COM1=" + startEmulator(silent, none).toUtf8());
    SerialPanelPort quiet;
    quiet.open(1, &reason);
    const double wait = worstLatenessMs([&] {
        quiet.run(LinkOptions{}, nullptr, [](PanelCommands &c) { return c.letter(1, 'P'); });
    });
    report("event loop lateness, waiting 1.5 s for an answer", wait, "ms", "<= 50 ms", wait <= 50);
    emulator.terminate();
    silent.terminate();
    emulator.waitForFinished();
    silent.waitForFinished();
    return 0;
}
