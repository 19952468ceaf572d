#include "messages.h"
#include "simdrivers.h"
#include "simulationengine.h"

#include <QEventLoop>
#include <QTimer>
#include <QtTest>

namespace
{

const QDateTime kClock(QDate(2026, 12, 6), QTime(10, 0, 0));

struct State {
    qint64 t;
    QString visor;
    QString tag;
    bool right;
};

QString visor(const SimulationEngine &e)
{
    QString s;
    for (const auto &c : e.cells())
        s += c ? c->ch : QLatin1Char(' ');
    return s;
}

// Plays on virtual time and keeps each change of what the panel shows; a
// final state with the visor "FIM" marks the end.
QVector<State> play(const RichText &m, int width, qint64 untilMs, qint64 stopAt = -1)
{
    QVector<State> states;
    const VirtualSimulationDriver *d = nullptr;
    SimulationEngine engine(m, width, [&] { return kClock.addMSecs(d ? d->now() : 0); });
    VirtualSimulationDriver driver(engine);
    d = &driver;
    driver.setStopAt(stopAt);
    driver.run(untilMs, [&](qint64 t, SimWait w) {
        const State s{t, visor(engine), engine.tagBox(),
                      engine.view().alignment() == Alignment::Right};
        if (w.kind == SimWait::Finished)
            states.append({t, QStringLiteral("FIM"), QString(), false});
        else if (states.isEmpty() || states.back().visor != s.visor || states.back().tag != s.tag ||
                 states.back().right != s.right)
            states.append(s);
    });
    return states;
}

// Plays the message and compares each state, written "T VISOR|TAG": the
// visor's text, after a ">" when it stands to the right, and "|TAG" only
// when the tag box shows one.
void expect(const RichText &m, int width, qint64 untilMs, const QStringList &want)
{
    QStringList got, wanted;
    for (const State &s : play(m, width, untilMs))
        got.append(QString::number(s.t) + ' ' + s.visor + '|' + s.tag);
    for (const QString &w : want) {
        const QString visor = w.section(' ', 1).section('|', 0, 0);
        const QString shown =
            visor.startsWith('>') ? visor.mid(1).rightJustified(width) : visor.leftJustified(width);
        wanted.append(w.section(' ', 0, 0) + ' ' + shown + '|' + w.section('|', 1));
    }
    QCOMPARE(got, wanted);
}

} // namespace

class TestSimulationEngine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void plainTextScrollsInAndLoops()
    {
        // The view empties at each restart, so A shows alone again. The
        // first state is at 0 and one due exactly at the end is played.
        expect(Message().text("ABC"), 12, 360, {"0 >A", "90 >AB", "180 >ABC", "270 >A", "360 >AB"});
        expect(Message().text("ABC"), 12, 0, {"0 >A"});
    }

    void speedTags()
    {
        expect(Message().tag("<Velocidade1>").text("AB"), 12, 1300,
               {"0 |<Velocidade1>", "300 >A|<Velocidade1>", "600 >AB|<Velocidade1>",
                "900 |<Velocidade1>", "1200 >A|<Velocidade1>"});
        const auto fast =
            play(Message().tag("<Velocidade6>").text("AB").tag("<Velocidade4>").text("C"), 12, 200);
        QCOMPARE(fast[1].t, 30);
        QCOMPARE(fast[2].t, 60);
        QCOMPARE(fast[4].t, 90 + 90); // the speed tag's own step ends with the new pause
        // Each speed's step, from the slowest to the fastest.
        const int steps[] = {300, 200, 150, 90, 60, 30};
        for (int speed = 1; speed <= 6; ++speed) {
            const QString tag = QString("<Velocidade%1>").arg(speed);
            QCOMPARE(play(Message().tag(tag).text("A"), 12, 400).value(1).t, steps[speed - 1]);
        }
    }

    void chunks()
    {
        // A chunk of W at once, held 1 s plus the step pause; then the next
        // character enters from the right.
        expect(Message().tag("<Roda_Cima__>").text("ABCDEFGHIJKLMNOPQRST"), 12, 1100,
               {"0 ABCDEFGHIJKL|<Roda_Cima__>", "1090 >BCDEFGHIJKLM|<Roda_Cima__>"});
        // Ended by the next tag, which then holds the view.
        expect(Message().tag("<Neve_______>").text("ABC").tag("<Pausa______>"), 12, 1800,
               {"0 ABC|<Neve_______>", "1090 ABC|<Pausa______>", "1780 ABC|<Neve_______>"});
        // An effect right before another tag empties the view.
        expect(Message().text("X").tag("<Come_______>").tag("<Pausa______>"), 12, 1900,
               {"0 >X", "90 |<Come_______>", "1180 |<Pausa______>", "1870 >X|<Pausa______>"});
        // A "<" with no name underlined after it is a character, in the
        // text and in a chunk alike.
        expect(Message().text("<").tag("<Salta______>").text("a<b"), 12, 1200,
               {"0 ><", "90 a<b|<Salta______>", "1180 ><|<Salta______>"});
        // Cut by the end of the message, which then starts again.
        expect(Message().text("X").tag("<Neve_______>").text("AB"), 12, 1200,
               {"0 >X", "90 AB|<Neve_______>", "1180 >X|<Neve_______>"});
    }

    void displayHoldsUntilStopped()
    {
        const Message m = Message().text("AB").tag("<Display____>").text("CD");
        expect(m, 12, 60000, {"0 >A", "90 >AB", "180 CD|<Display____>"});
        const auto stopped = play(m, 12, 60000, 5000);
        QCOMPARE(stopped.back().visor, QString("FIM"));
        QCOMPARE(stopped.back().t, 5090);
    }

    void blinkAndHold()
    {
        expect(Message().text("AB").tag("<Pisca______>"), 12, 800,
               {"0 >A", "90 >AB", "180 |<Pisca______>", "380 >AB|<Pisca______>",
                "770 >A|<Pisca______>"});
        expect(Message().text("A").tag("<Varre_Baixo>").text("B"), 5, 1200,
               {"0 >A", "90 >A|<Varre_Baixo>", "1180 >AB|<Varre_Baixo>"});
    }

    void liveTexts()
    {
        // Ten refreshes in the colour of the tag's "<", the seconds moving on.
        const Message clock = Message().tag("<Relogio____>", kGreen).text("Z");
        const auto states = play(clock, 15, 5100);
        QCOMPARE(states[0].visor, QString("   10:00:00    "));
        QCOMPARE(states[1].t, 1000);
        QCOMPARE(states[1].visor, QString("   10:00:01    "));
        QCOMPARE(states.back().t, 5090);
        QCOMPARE(states.back().visor, QString("  10:00:04    Z")); // appended to the last text

        SimulationEngine e(clock, 15, [] { return kClock; });
        e.advance();
        for (const auto &c : e.cells()) {
            QVERIFY(c);
            QCOMPARE(c->format.colour, kGreen);
            QCOMPARE(c->format.pointSize, 44.0);
            QVERIFY(!c->format.bold && !c->format.underline);
        }
        SimulationEngine wide(Message().tag("<Temperatura>"), 30, [] { return kClock; });
        wide.advance();
        QCOMPARE(wide.view().at(13).format.pointSize, 24.0);
        QCOMPARE(wide.view().plainText(), QString(13, ' ') + "21°C" + QString(13, ' '));
    }

    void liveTagsWithoutAnActionInSomeWidths()
    {
        expect(Message().tag("<Temperatura>").text("A"), 12, 100,
               {"0 |<Temperatura>", "90 >A|<Temperatura>"});
        expect(Message().tag("<Data_______>").text("A"), 5, 100,
               {"0 |<Data_______>", "90 >A|<Data_______>"});
    }

    void liveTextPatterns_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        const int date = int(simwidth::Live::Date), clock = int(simwidth::Live::Clock),
                  temp = int(simwidth::Live::Temperature);
        QTest::newRow("5 clock") << 5 << clock << "09:05";
        QTest::newRow("5 temperature") << 5 << temp << " 21°C";
        QTest::newRow("6 date") << 6 << date << "03 fev";
        QTest::newRow("6 clock") << 6 << clock << "09:05";
        QTest::newRow("6 temperature") << 6 << temp << "  21°C ";
        QTest::newRow("9 date") << 9 << date << " 03/02/07";
        QTest::newRow("9 clock") << 9 << clock << " 09:05:04";
        QTest::newRow("9 temperature") << 9 << temp << "  21°C   ";
        QTest::newRow("12 date") << 12 << date << " 03/02/2007 ";
        QTest::newRow("12 clock") << 12 << clock << "   09:05    ";
        QTest::newRow("15 date") << 15 << date << "  03/02/2007   ";
        QTest::newRow("15 clock") << 15 << clock << "   09:05:04    ";
        QTest::newRow("15 temperature") << 15 << temp << "     21°C      ";
        QTest::newRow("30 date") << 30 << date
                                 << QString(10, ' ') + "03/02/2007" + QString(10, ' ');
        QTest::newRow("30 clock") << 30 << clock
                                  << QString(11, ' ') + "09:05:04" + QString(11, ' ');
    }

    void liveTextPatterns()
    {
        QFETCH(int, width);
        QFETCH(int, kind);
        QFETCH(QString, text);
        const QDateTime when(QDate(2007, 2, 3), QTime(9, 5, 4));
        QCOMPARE(simwidth::liveText(width, simwidth::Live(kind), when,
                                    QLocale(QLocale::Portuguese, QLocale::Brazil)),
                 text);
    }

    void onlyUnderlinedTagsAreTags()
    {
        // Typed in the shape of a tag: thirteen plain characters.
        const auto typed = play(Message().text("<Pausa______>"), 12, 2000);
        QCOMPARE(typed[0].visor, QString("<").rightJustified(12));
        QCOMPARE(typed[12].visor, QString("Pausa______>"));
        QCOMPARE(typed[12].t, 12 * 90);
        // An underlined name that is no tag of the panel: one step, no action.
        expect(Message().tag("<Linha_2____>").text("A"), 12, 100,
               {"0 |<Linha_2____>", "90 >A|<Linha_2____>"});
    }

    void stopsInEachKindOfWait()
    {
        // The current waits run out (plain) or end (stoppable), then the
        // step's pause, then the end.
        QCOMPARE(play(Message().text("ABC"), 12, 60000, 50).back().t, 90);
        QCOMPARE(play(Message().tag("<Neve_______>").text("AB"), 12, 60000, 500).back().t, 1090);
        QCOMPARE(play(Message().text("AB").tag("<Pisca______>"), 12, 60000, 250).back().t, 770);
        QCOMPARE(play(Message().tag("<Pausa______>"), 12, 60000, 100).back().t, 690);
        const auto live = play(Message().tag("<Relogio____>"), 15, 60000, 1200);
        QCOMPARE(live.back().visor, QString("FIM"));
        QCOMPARE(live.back().t, 1290);
        QCOMPARE(play(Message().text("A"), 12, 60000, 0).back().t, 90);
    }

    void emptyAndLongMessagesPlay()
    {
        QCOMPARE(play(RichText(), 12, 1000).size(), 1);
        // Positions are not 16-bit: a long message plays past 32767.
        SimulationEngine e(RichText::fromPlain(QString(40000, 'x') + "END"), 5, {});
        for (int i = 0; i < 40003 * 2; ++i)
            e.advance();
        QVERIFY(e.readPos() > 40000);
        QCOMPARE(e.view().plainText().right(3), QString("END"));
    }

    void realTimeDriverMatchesVirtualTime()
    {
        Message m = Message().tag("<Velocidade6>").text("ABCDEFGH").tag("<Pisca______>");
        m.text("IJ").tag("<Pausa______>").text("KLMNOP");
        QStringList real;
        SimulationEngine engine(m, 9, [] { return kClock; });
        RealTimeSimulationDriver driver(engine);
        QObject::connect(&driver, &RealTimeSimulationDriver::stateChanged, [&] {
            const QString s = visor(engine) + '|' + engine.tagBox();
            if (real.isEmpty() || real.back() != s) real.append(s);
        });
        driver.start();
        QEventLoop loop;
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        loop.exec();
        QStringList virt;
        for (const State &s : play(m, 9, 3000))
            virt.append(s.visor + '|' + s.tag);
        QVERIFY(real.size() > 10);
        QCOMPARE(real, virt.mid(0, real.size()));
    }

    // A timer that always fires 5 ms late: every advance stays due on the
    // message's own schedule, the lateness never adds up.
    void realTimeLatenessDoesNotAddUp()
    {
        const RichText m = Message().tag("<Velocidade6>").text("ABCDEFGHIJ").tag("<Pausa______>");
        SimulationEngine timed(m, 12, [] { return kClock; });
        QList<qint64> due;
        VirtualSimulationDriver(timed).run(2000, [&](qint64 ms, SimWait) { due.append(ms); });

        SimulationEngine engine(m, 12, [] { return kClock; });
        int reads = 0;
        RealTimeSimulationDriver driver(
            engine, nullptr, [&] { return reads++ == 0 ? 0 : driver.dueNs() + 5'000'000; });
        QList<qint64> ran;
        QObject::connect(&driver, &RealTimeSimulationDriver::stateChanged, [&] {
            QCOMPARE(driver.lastLatenessUs(), 5000);
            ran.append(driver.dueNs() / 1'000'000);
        });
        driver.start();
        QTRY_VERIFY(ran.size() >= 20);
        driver.stop();
        QCOMPARE(ran.mid(0, 20), due.mid(0, 20));
    }
};

QTEST_GUILESS_MAIN(TestSimulationEngine)
#include "tst_simulationengine.moc"
