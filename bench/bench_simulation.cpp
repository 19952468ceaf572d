// The cost of one engine step, and how late the real-time driver runs
// against its schedule.
#include "benchutil.h"
#include "simdrivers.h"

#include <QCoreApplication>
#include <QEventLoop>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // A message with every kind of step: plain text, chunks, holds, blinks
    // and live texts.
    RichText m;
    CharFormat plain, name;
    plain.colour = rgbColour(255, 0, 0);
    name.underline = true;
    const auto tag = [&](const char *t) {
        const QString s = QString::fromLatin1(t);
        m.append(s.left(1), plain);
        m.append(s.mid(1, 11), name);
        m.append(s.right(1), plain);
    };
    for (int i = 0; i < 50; ++i) {
        m.append(QStringLiteral("Promoção de verão "), plain);
        tag("<Neve_______>");
        m.append(QStringLiteral("Preço baixo"), plain);
        tag("<Pisca______>");
        tag("<Relogio____>");
        tag("<Varre_Baixo>");
    }
    const QDateTime now = QDateTime::currentDateTime();
    SimulationEngine engine(m, 15, [&] { return now; });
    const int steps = 200000;
    const double ms = medianMs(5, [&] {
        for (int i = 0; i < steps; ++i)
            engine.advance();
    });
    const double us = ms * 1000 / steps;
    report("simulation engine, one step", us, "us", "<= 5 us", us <= 5);

    // 200 steps at 0.03 s on the real-time driver.
    RichText fast;
    tag("<Velocidade6>");
    fast = m.mid(m.size() - 13);
    fast.append(QString(199, QLatin1Char('x')), plain);
    SimulationEngine rt(fast, 12, [&] { return now; });
    RealTimeSimulationDriver driver(rt);
    std::vector<double> late;
    QEventLoop loop;
    QObject::connect(&driver, &RealTimeSimulationDriver::stateChanged, [&] {
        late.push_back(double(driver.lastLatenessUs()) / 1000);
        if (late.size() == 201) loop.quit();
    });
    driver.start();
    loop.exec();
    late.erase(late.begin()); // the first step runs at once, on no schedule
    std::sort(late.begin(), late.end());
    const double median = late[late.size() / 2], worst = late.back();
    report("real-time driver lateness, median of 200 steps at 0.03 s", median, "ms", "<= 1 ms",
           median <= 1);
    report("real-time driver lateness, worst of 200 steps", worst, "ms", "<= 5 ms", worst <= 5);
    return 0;
}
