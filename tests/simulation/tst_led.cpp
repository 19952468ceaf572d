// The LED preview's pure parts: the font covers what the encoder can send,
// a cell's dots stay in its band, and lit dots take the cell's colour.
#include "ledfont.h"
#include "ledlayout.h"

#include "ledsvg.h"
#include "messages.h"
#include "simdrivers.h"
#include "simperiod.h"

#include <QtTest>

namespace
{

std::optional<RichChar> cell(QChar c, ColourRef colour, bool bold = false)
{
    CharFormat f;
    f.colour = colour;
    f.bold = bold;
    return RichChar{c, f};
}

} // namespace

class TestLed : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void everyCharacterTheEncoderSendsHasAGlyph()
    {
        QString set;
        for (char16_t c = 0x20; c < 0x7F; ++c)
            set += QChar(c);
        set += QString::fromUtf8("àáâãéêíóôõúçñÀÁÂÃÉÊÍÓÔÕÚÇÑ°");
        for (QChar c : set)
            QVERIFY2(ledfont::hasGlyph(c), qPrintable(QString(c)));
        // Letters and signs light something; the space lights nothing.
        for (QChar c : QString::fromUtf8("AZaz09ãÇ°!"))
            QVERIFY(!glyphDots(c, false).isEmpty());
        QVERIFY(glyphDots(' ', false).isEmpty());
        // Anything else shows a stand-in, never a blank.
        QVERIFY(!ledfont::hasGlyph(QChar(0x0142)));
        // That stand-in is a hollow box, so it reads as "no such letter".
        QString dots;
        for (int i = 0; i < ledfont::kRows * ledfont::kColumns; ++i)
            dots += ledfont::glyph(QChar(0x0142)).lit(i % 5, i / 5) ? '#' : '.';
        QCOMPARE(dots, QString("####.#..#.#..#.#..#.#..#.####......"));
        // An expanded letter is the letter thickened, never thinner.
        QVERIFY(glyphDots('I', true).size() > glyphDots('I', false).size());
    }

    void aCellsDotsStayInItsBand()
    {
        for (int width : {5, 6, 9, 12, 15, 30}) {
            for (QSizeF view : {QSizeF(width * 36, 85), QSizeF(720, 45), QSizeF(1000, 300)}) {
                const LedLayout layout(width, view);
                QVERIFY(layout.pitch() > 0);
                for (int c = 0; c < width; ++c) {
                    const QRectF band = layout.band(c);
                    QCOMPARE(band.left(), c * view.width() / width);
                    // The glyph stands in the middle of its band.
                    QCOMPARE((layout.centre(c, 0, 0).x() +
                              layout.centre(c, ledfont::kColumns - 1, 0).x()) /
                                 2,
                             band.center().x());
                    for (int dot = 0; dot < ledfont::kRows * ledfont::kColumns; ++dot) {
                        const QPointF p =
                            layout.centre(c, dot % ledfont::kColumns, dot / ledfont::kColumns);
                        const double r = layout.radius();
                        QVERIFY(p.x() - r > band.left() && p.x() + r < band.right());
                        QVERIFY(p.y() - r >= 0 && p.y() + r <= view.height());
                    }
                }
            }
        }
    }

    void litDotsTakeTheirCellsColour()
    {
        const ColourRef red = rgbColour(255, 0, 0), green = rgbColour(0, 255, 0);
        const PanelCells cells = {cell('A', red), std::nullopt, cell(' ', green),
                                  cell('b', green, true), std::nullopt};
        const QVector<LitDot> dots = litDots(cells);
        QVERIFY(!dots.isEmpty());
        QSet<int> litCells;
        for (const LitDot &d : dots) {
            litCells.insert(d.cell);
            QCOMPARE(d.colour, d.cell == 0 ? red : green);
        }
        QCOMPARE(litCells, QSet<int>({0, 3})); // empty and blank cells stay dark
        // Dark characters would be black on black: the panel lights them red.
        QCOMPARE(ledColour(rgbColour(0, 0, 0)), red);
        QCOMPARE(ledColour(rgbColour(47, 47, 47)), red); // dark in every channel
        for (const ColourRef lit : {rgbColour(48, 0, 0), rgbColour(0, 48, 0), rgbColour(0, 0, 48),
                                    rgbColour(0, 128, 0)})
            QCOMPARE(ledColour(lit), lit);
        QCOMPARE(svgColour(rgbColour(255, 128, 0)), QByteArray("#FF8000"));
        // Expanded: each dot doubled on its right, never its left.
        const QVector<LitDot> plain = litDots({cell('l', red)});
        const QVector<LitDot> bold = litDots({cell('l', red, true)});
        int leftmost = 99, boldLeftmost = 99;
        for (const LitDot &d : plain)
            leftmost = qMin(leftmost, d.column);
        for (const LitDot &d : bold)
            boldLeftmost = qMin(boldLeftmost, d.column);
        QCOMPARE(boldLeftmost, leftmost);
        QVERIFY(bold.size() > plain.size());
    }

    // Every state of an animation is shown for some time.
    void noStateOfTheAnimationLastsNoTime()
    {
        const QVector<LedState> states = {{0.0, {cell('A', rgbColour(255, 0, 0))}},
                                          {0.09, {cell('B', rgbColour(255, 0, 0))}},
                                          {0.18, {cell('C', rgbColour(255, 0, 0))}}};
        const QByteArray svg = ledAnimationSvg(states, 0.27, 1);
        const int at = int(svg.indexOf("keyTimes=\""));
        const QList<QByteArray> times =
            svg.mid(at + 10, svg.indexOf('"', at + 10) - at - 10).split(';');
        QCOMPARE(times.size(), 3);
        for (int i = 1; i < times.size(); ++i)
            QVERIFY(times[i].toDouble() > times[i - 1].toDouble());
        QVERIFY(times.last().toDouble() < 1.0);

        // A first round that differs, then the repeating part: the loop
        // shows its own states (B and C), not the first round's A again.
        const QByteArray looped = ledAnimationSvg(states, 0.27, 1, LedLoop{0.09, 0.18});
        QVERIFY(looped.contains("data-inicio=\"0.090\""));
        const int second = int(looped.indexOf("values=\"", looped.indexOf("values=\"") + 1));
        QVERIFY(second > 0);
        QVERIFY(!looped.mid(second + 8).startsWith("0 0;"));
        // One that never repeats (a clock): the states asked for at most.
        const QByteArray clock = messageAnimation(Message().tag("<Relogio____>").text("Z"), 15,
                                                  5000, QDateTime(QDate(2026, 1, 1), QTime(9, 0)), 3);
        QVERIFY(clock.count("<g data-t=") == 3 && clock.contains(" dur=\"5s\""));
        // Nor does the command line's finder call a clock's minute a round,
        // though its states repeat all minute long on a narrow panel.
        const VirtualSimulationDriver *d = nullptr;
        SimulationEngine engine(Message().tag("<Relogio____>"), 6, [&] {
            return QDateTime(QDate(2026, 1, 1), QTime(9, 0)).addMSecs(d ? d->now() : 0);
        });
        VirtualSimulationDriver driver(engine);
        d = &driver;
        PeriodFinder finder;
        driver.run(30000, [&](qint64 t, SimWait w) { finder.stateChanged(engine, w, t); });
        QVERIFY(!finder.period());
    }
};

QTEST_GUILESS_MAIN(TestLed)
#include "tst_led.moc"
