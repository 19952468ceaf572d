// The LED preview: drawing a 30-cell state, the real-time driver's lateness
// with a simulation window's LED view on screen, and the size of a minute of
// animation.
#include "benchutil.h"
#include "ledpainter.h"
#include "ledsvg.h"
#include "ledview.h"
#include "simdrivers.h"
#include "simulationwindow.h"

#include <QApplication>
#include <QEventLoop>
#include <QPainter>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QDateTime now = QDateTime::currentDateTime();

    // Every cell lit, in three colours, as the 30-cell window's view is.
    PanelCells full;
    for (int i = 0; i < 30; ++i) {
        CharFormat f;
        f.colour = i % 3 == 0   ? rgbColour(255, 0, 0)
                   : i % 3 == 1 ? rgbColour(0, 255, 0)
                                : rgbColour(255, 255, 0);
        full.append(RichChar{QChar(u"WMB#@8&%"[i % 8]), f});
    }
    QImage target(720, 45, QImage::Format_ARGB32_Premultiplied);
    LedPainter painter;
    const LedLayout layout(30, QSizeF(target.size()));
    const double drawMs = medianMs(200, [&] {
        QPainter p(&target);
        painter.paint(p, layout, full);
    });
    report("LED view, drawing a full 30-cell state (720 x 45)", drawMs, "ms", "<= 2 ms",
           drawMs <= 2);

    // A minute of a 30-cell message as an animated SVG.
    CharFormat red;
    red.colour = rgbColour(255, 0, 0);
    const RichText message = RichText::fromPlain(
        QStringLiteral("Bom dia! Promoção de verão, preços baixos o dia todo. "), red);
    SimulationEngine minute(message, 30, [&] { return now; });
    VirtualSimulationDriver virtualDriver(minute);
    QVector<LedState> states;
    virtualDriver.run(60000, [&](qint64 t, SimWait) {
        const PanelCells cells = minute.cells();
        if (states.isEmpty() || states.last().cells != cells) states.append({t / 1000.0, cells});
    });
    const double kb = double(ledAnimationSvg(states, 60, 30).size()) / 1024;
    report("animated SVG, 60 s of a 30-cell message", kb / 1024, "MB", "<= 2 MB", kb <= 2048);

    // 200 steps at 0.03 s on the real-time driver, the window on screen.
    RichText fast;
    CharFormat name;
    name.underline = true;
    fast.append(QStringLiteral("<"), red);
    fast.append(QStringLiteral("Velocidade6"), name);
    fast.append(QStringLiteral(">"), red);
    fast.append(QString(199, QLatin1Char('W')), red);
    SimulationWindow window(30, QStringLiteral("bench"), fast);
    window.show();
    RealTimeSimulationDriver driver(window.engine());
    std::vector<double> late;
    QEventLoop loop;
    QObject::connect(&driver, &RealTimeSimulationDriver::stateChanged, [&] {
        window.showState();
        late.push_back(double(driver.lastLatenessUs()) / 1000);
        if (late.size() == 201) loop.quit();
    });
    driver.start();
    loop.exec();
    late.erase(late.begin());
    std::sort(late.begin(), late.end());
    const double median = late[late.size() / 2], worst = late.back();
    report("real-time driver lateness with the LED view, median", median, "ms", "<= 1 ms",
           median <= 1);
    report("real-time driver lateness with the LED view, worst", worst, "ms", "<= 5 ms",
           worst <= 5);
    return 0;
}
