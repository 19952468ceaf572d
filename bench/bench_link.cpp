// A maximal frame (7509 bytes) written over a pseudo-terminal to the panel
// emulator, byte by byte as the link writes to a real line.
#include "benchline.h"
#include "benchutil.h"
#include "frame.h"
#include "panelcommands.h"
#include "panellink.h"
#include "qtserialline.h"
#include "tcpline.h"
#include "timebase.h"

#include <QCoreApplication>
#include <QProcess>

#include <chrono>
#include <thread>

#include "loopback.h"

namespace
{

#ifdef Q_OS_UNIX
// A device server that puts one byte a wire time (4.58 ms) on its serial
// side and reads no faster, with a small receive window, so the link meets
// its pushback; it answers ACK to panel 1 after the whole frame.
// Returns the seconds from the first byte sent to the answer, or -1.
double throughPushingBackServer(qsizetype messageChars)
{
    const LoopbackListener listener(1, 1024);
    const QByteArray field = 'L' + QByteArray(messageChars - 1, 'x');
    const qsizetype frameSize = frame::build(1, frame::encodeDataField(field, 0)).size();
    std::thread peer([&] {
        const int c = ::accept(listener.socket, nullptr, nullptr);
        auto next = std::chrono::steady_clock::now();
        char b;
        for (qsizetype n = 0; n < frameSize && ::read(c, &b, 1) == 1; ++n) {
            next += std::chrono::microseconds(SerialLine::kWireByteUs);
            std::this_thread::sleep_until(next);
        }
        const QByteArray ack = frame::build(1, QByteArray(1, char(frame::kAck)));
        (void)!::write(c, ack.constData(), size_t(ack.size()));
        ::close(c);
    });
    TcpLine tcp;
    LineTimebase time;
    time.setLine(&tcp);
    QString error;
    double seconds = -1;
    if (tcp.open(listener.device(), &error)) {
        PanelLink link(tcp, time);
        QElapsedTimer clock;
        clock.start();
        if (link.exchangeFrame(1, field).succeeded())
            seconds = double(clock.nsecsElapsed()) / 1e9 - PanelLink::kPauseMs / 1000.0;
        tcp.close();
    }
    peer.join();
    return seconds;
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QProcess emulator;
    emulator.start(QStringLiteral(LETREIRO_CLI), {QStringLiteral("painel")});
    if (!emulator.waitForReadyRead(5000)) return 1;
    const QString device = QString::fromUtf8(emulator.readLine()).trimmed();

    BenchLine serial;
    if (!serial.open(device)) return 1;
    PanelLink &link = *serial.link;
    const QByteArray field = 'L' + QByteArray(7600, 'x');
    bool ok = true;
    const double ms = medianMs(5, [&] { ok = ok && link.exchangeFrame(1, field).succeeded(); });
    emulator.terminate();
    emulator.waitForFinished();
    if (!ok) {
        std::printf("exchange failed\n");
        return 1;
    }
    report("maximal frame to the emulator (incl. 0.1 s pause)", ms / 1000, "s", "<= 0.5 s",
           ms <= 500);
    report("  of which writing and the answer", (ms - 100) / 1000, "s", "-", true);

    // Thirty panels behind a serial device server (the emulator on TCP),
    // "para" to each in turn, as `letreiro-cli para --endereco 1-30` does.
    QProcess server;
    server.start(QStringLiteral(LETREIRO_CLI),
                 {QStringLiteral("painel"), QStringLiteral("--tcp"), QStringLiteral("0"),
                  QStringLiteral("--endereco"), QStringLiteral("1-30")});
    if (!server.waitForReadyRead(5000)) return 1;
    const QString address = QString::fromUtf8(server.readLine()).trimmed();
    TcpLine tcp;
    QString error;
    if (!tcp.open(address, &error)) {
        std::printf("%s\n", qPrintable(error));
        return 1;
    }
    LineTimebase tcpTime;
    tcpTime.setLine(&tcp);
    PanelLink tcpLink(tcp, tcpTime);
    PanelCommands commands(tcpLink);
    QElapsedTimer clock;
    clock.start();
    int answered = 0;
    for (int a = 1; a <= 30; ++a)
        answered += commands.letter(qint16(a), 'P').succeeded;
    const double perPanelMs = double(clock.nsecsElapsed()) / 1e6 / 30 - 100;
    server.terminate();
    server.waitForFinished();
    if (answered != 30) {
        std::printf("only %d of 30 panels answered\n", answered);
        return 1;
    }
    report("30 panels over TCP, per panel beyond the 0.1 s pause", perPanelMs, "ms", "<= 5 ms",
           perPanelMs <= 5);
#ifdef Q_OS_UNIX
    for (const qsizetype chars : {2000, 7500}) {
        const double wire =
            double(frame::build(1, frame::encodeDataField('L' + QByteArray(chars - 1, 'x'), 0))
                       .size()) *
            SerialLine::kWireByteUs / 1e6;
        const double s = throughPushingBackServer(chars);
        const double over = (s / wire - 1) * 100;
        report(qPrintable(QStringLiteral("%1 characters through a server that pushes back, over "
                                         "the wire time (%2 s)")
                              .arg(chars)
                              .arg(wire, 0, 'f', 1)),
               s < 0 ? 999 : over, "%", "<= 5 %", s > 0 && over <= 5);
    }
#endif
    return 0;
}
