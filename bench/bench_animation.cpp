// The animation one sends: size and time to build for 60 s, 600 s and an
// hour of a 30-cell message, written as every state of the span (as it was)
// and as one round looped (as it is), and the files of 60 s for the browser
// measurement (bench/chromium-cpu, run by scripts/run-bench).
//   bench_animation [FOLDER]
#include "benchutil.h"
#include "ledsvg.h"
#include "simdrivers.h"
#include "simperiod.h"

#include <QCoreApplication>
#include <QFile>

namespace
{

RichText message(bool clock, bool fast)
{
    CharFormat red;
    red.colour = 0x0000FF; // 0x00BBGGRR
    CharFormat name = red;
    name.underline = true;
    RichText t;
    const auto tag = [&](const char *n) {
        t.append(QStringLiteral("<"), red);
        t.append(QString::fromLatin1(n), name);
        t.append(QStringLiteral(">"), red);
    };
    if (fast) tag("Velocidade6");
    if (clock) tag("Relogio____");
    t.append(QStringLiteral("Bom dia! Promoção de verão, preços baixos o dia todo. "), red);
    return t;
}

// Every state of the span, as the JSON lines give them.
QVector<LedState> spanStates(const RichText &m, qint64 ms)
{
    SimulationEngine engine(m, 30, [] { return QDateTime(QDate(2026, 12, 6), QTime(10, 0)); });
    VirtualSimulationDriver driver(engine);
    QVector<LedState> states;
    driver.run(ms, [&](qint64 t, SimWait) {
        const PanelCells cells = engine.cells();
        if (states.isEmpty() || states.last().cells != cells) states.append({t / 1000.0, cells});
    });
    return states;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    struct Case {
        const char *name;
        bool clock, fast;
    };
    for (const Case c : {Case{"scrolling", false, false}, Case{"scrolling at Velocidade6", false, true},
                         Case{"with the clock, Velocidade6", true, true}}) {
        const RichText m = message(c.clock, c.fast);
        for (const qint64 seconds : {60, 600, 3600}) {
            QByteArray before, now;
            const double beforeMs = medianMs(seconds > 60 ? 1 : 5, [&] {
                before = ledAnimationSvg(spanStates(m, seconds * 1000), double(seconds), 30);
            });
            const double nowMs = medianMs(seconds > 60 ? 1 : 5, [&] {
                const auto round = firstRound(m, 30, seconds * 1000);
                now = round ? ledAnimationSvg(round->states, 0, 30, round->loop)
                            : ledAnimationSvg(spanStates(m, seconds * 1000), double(seconds), 30);
            });
            const QString what = QStringLiteral("%1, %2 s").arg(QLatin1String(c.name)).arg(seconds);
            report(qPrintable(what + QStringLiteral(": every state, size")),
                   double(before.size()) / 1e6, "MB", "-", true);
            report(qPrintable(what + QStringLiteral(": as written now, size")),
                   double(now.size()) / 1e6, "MB", "<= 2 MB (60 s)",
                   seconds > 60 || now.size() <= 2'000'000);
            report(qPrintable(what + QStringLiteral(": build, every state / now")), beforeMs, "ms",
                   qPrintable(QStringLiteral("now %1 ms").arg(nowMs, 0, 'f', 1)), true);
            if (seconds == 60 && !folder.isEmpty()) {
                const QString base = folder + u'/' + QString::fromLatin1(c.name).replace(u' ', u'-');
                for (const auto &[suffix, bytes] :
                     {std::pair{QStringLiteral("-span.svg"), before},
                      std::pair{QStringLiteral("-now.svg"), now}}) {
                    QFile f(base + suffix);
                    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
                }
            }
        }
    }
    return 0;
}
