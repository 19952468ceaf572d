// A maximal frame (7509 bytes) written over a pseudo-terminal to the panel
// emulator, byte by byte as the link writes to a real line.
#include "benchutil.h"
#include "panellink.h"
#include "qtserialline.h"
#include "timebase.h"

#include <QCoreApplication>
#include <QProcess>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QProcess emulator;
    emulator.start(QStringLiteral(LETREIRO_CLI), {QStringLiteral("painel")});
    if (!emulator.waitForReadyRead(5000)) return 1;
    const QString device = QString::fromUtf8(emulator.readLine()).trimmed();

    QtSerialLine line;
    QString error;
    if (!line.open(device, &error)) {
        std::printf("%s\n", qPrintable(error));
        return 1;
    }
    EventLoopTimebase time;
    QObject::connect(&line, &QtSerialLine::activity, &time, &EventLoopTimebase::wake);
    PanelLink link(line, time);
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
    return 0;
}
