// A maximal frame (7509 bytes) over a line whose queue drains at 2400 baud,
// as a real serial port's does: how close the link keeps to the wire time,
// and how little CPU it spends waiting. The line is a pseudo-terminal to the
// panel emulator, slowed by the slowline shim (LD_PRELOAD).
#include "benchline.h"
#include "benchutil.h"
#include "panellink.h"
#include "qtserialline.h"
#include "timebase.h"

#include <QCoreApplication>
#include <QProcess>

#include <sys/resource.h>

namespace
{

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The measuring side, running with the shim over the given device.
int measure(const QString &device)
{
    BenchLine serial;
    if (!serial.open(device)) return 1;
    PanelLink &link = *serial.link;
    const QByteArray field = 'L' + QByteArray(7600, 'x');
    const double cpu0 = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    const bool ok = link.exchangeFrame(1, field).succeeded();
    const double seconds = double(clock.nsecsElapsed()) / 1e9 - 0.1; // less the fixed pause
    const double cpu = cpuSeconds() - cpu0;
    if (!ok) {
        std::printf("exchange failed\n");
        return 1;
    }
    const double wire = 7509.0 * double(serial.line.byteTimeUs()) / 1e6;
    std::printf("maximal frame at 2400 baud: %.2f s against %.2f s on the wire (%+.1f %%)\n",
                seconds, wire, 100 * (seconds / wire - 1));
    report("paced maximal frame, time over the wire time", 100 * (seconds / wire - 1), "%",
           "<= 5 %", seconds <= wire * 1.05);
    report("  CPU while pacing", 100 * cpu / seconds, "%", "< 10 %", cpu / seconds < 0.10);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--measure")
        return measure(QString::fromLocal8Bit(argv[2]));

    QProcess emulator;
    emulator.start(QStringLiteral(LETREIRO_CLI), {QStringLiteral("painel")});
    if (!emulator.waitForReadyRead(5000)) return 1;
    const QString device = QString::fromUtf8(emulator.readLine()).trimmed();

    QProcess self;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(SLOWLINE_SHIM));
    env.insert(QStringLiteral("SLOWLINE_DEVICE"), device);
    self.setProcessEnvironment(env);
    self.setProcessChannelMode(QProcess::ForwardedChannels);
    self.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--measure"), device});
    self.waitForFinished(120000);
    emulator.terminate();
    emulator.waitForFinished();
    return self.exitCode();
}
