// The LED view as the operator sees it, judged by the colour of its lit
// pixels cell by cell, and the animation saved from a simulation window.
#include "ledlayout.h"
#include "ledview.h"
#include "messages.h"
#include "simdrivers.h"
#include "simulationwindow.h"
#include "testfiles.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

std::optional<RichChar> cell(QChar c, ColourRef colour)
{
    CharFormat f;
    f.colour = colour;
    return RichChar{c, f};
}

// Pixels of a band bright enough to be a lit dot, by dominant colour.
struct BandPixels {
    int red = 0, green = 0, yellow = 0, other = 0;
};

BandPixels litPixels(const QImage &image, int cells, int band)
{
    BandPixels out;
    const int from = band * image.width() / cells, to = (band + 1) * image.width() / cells;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = from; x < to; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::max({c.red(), c.green(), c.blue()}) < 160) continue;
            if (c.red() > 160 && c.green() > 160 && c.blue() < 100)
                ++out.yellow;
            else if (c.red() > 160 && c.green() < 100)
                ++out.red;
            else if (c.green() > 160 && c.red() < 100)
                ++out.green;
            else
                ++out.other;
        }
    }
    return out;
}

} // namespace

class TestLedView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void lightsEachCellInItsColour()
    {
        const ColourRef red = rgbColour(255, 0, 0), green = rgbColour(0, 255, 0),
                        orange = rgbColour(255, 255, 0);
        LedView view(6);
        view.resize(6 * 6 * 9, 9 * 9);
        view.setCells({cell('O', red), cell('l', green), std::nullopt, cell(QChar(0xE1), orange),
                       cell(' ', red), cell('!', red)});
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QImage shot = view.grab().toImage();
        BandPixels b = litPixels(shot, 6, 0);
        QVERIFY(b.red > 0 && b.green == 0 && b.yellow == 0);
        b = litPixels(shot, 6, 1);
        QVERIFY(b.green > 0 && b.red == 0);
        for (int empty : {2, 4}) {
            b = litPixels(shot, 6, empty);
            QCOMPARE(b.red + b.green + b.yellow + b.other, 0);
        }
        QVERIFY(litPixels(shot, 6, 3).yellow > 0);
        // An empty cell shows its 35 unlit dots whole: grey discs of the dots' radius.
        const double r = LedLayout(6, view.size()).radius();
        qint64 grey = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 2 * shot.width() / 6; x < 3 * shot.width() / 6; ++x)
                grey += shot.pixelColor(x, y).red();
        QVERIFY(qAbs(grey / (35 * M_PI * r * r * 38) - 1) < 0.1);
        QVERIFY(litPixels(shot, 6, 5).red > 0);
        int strongest = 0, glow = 0; // a lit dot: its colour whole at the centre, a glow around
        for (int i = 0; i < shot.width() / 6 * shot.height(); ++i) {
            const QColor c = shot.pixelColor(i % (shot.width() / 6), i / (shot.width() / 6));
            strongest = qMax(strongest, c.red());
            glow += c.red() > c.green() + 30 && c.red() < 160;
        }
        QVERIFY(strongest == 255 && glow > litPixels(shot, 6, 0).red); // wider than the dot
        // A view made larger draws larger dots, not the old ones again.
        view.resize(view.size() * 2);
        QVERIFY(litPixels(view.grab().toImage(), 6, 0).red > 3 * litPixels(shot, 6, 0).red);
    }

    void theWindowSavesWhatItPlayed()
    {
        QTemporaryDir dir;
        SimulationWindow w(12, "Documento 1", Message().text("Oi")); // red
        VirtualSimulationDriver driver(w.engine());
        driver.run(1500, [&](qint64 ms, SimWait) { w.showState(ms); });
        QVERIFY(w.played().size() > 2);
        QCOMPARE(w.played().first().t, 0.0); // the first state starts the animation
        // Asked for first, without ".svg": it is added. The file is built
        // off the window's thread; a message that repeats is one round.
        const QString path = dir.filePath("oi");
        w.askAnimationFile = [&] { return path; };
        QSignalSpy saved(&w, &SimulationWindow::animationSaved);
        // Asked for from the view's own menu (right button).
        QTimer::singleShot(0, [] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu) return;
            const auto actions = menu->actions();
            if (actions.size() == 1 && actions[0]->text() == QString("Salvar animação…"))
                actions[0]->trigger();
            menu->close();
        });
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(5, 5),
                                     w.view()->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(w.view(), &rightClick);
        QVERIFY(saved.wait(5000));
        QCOMPARE(saved.first().at(0).toString(), path + ".svg");
        const QByteArray svg = contents(path + ".svg");
        QVERIFY(svg.startsWith("<?xml"));
        QVERIFY(svg.contains("data-periodo=\""));
        QVERIFY(svg.count("<g data-t=") < w.played().size());
        QVERIFY(svg.contains("stroke=\"#FF0000\""));
        // Unlit, a cell's five columns of dots; the gap between cells stays dark.
        const QByteArray unlit = svg.mid(svg.indexOf("id=\"unlit\""));
        QCOMPARE(unlit.left(unlit.indexOf("</pattern>")).count("<circle"), 5);

        // Left playing for an hour, it keeps its last stretch, from 0.
        driver.run(3600 * 1000, [&](qint64 ms, SimWait) { w.showState(ms); });
        QVERIFY(w.played().size() <= 20000);
        QCOMPARE(w.played().first().t, 0.0);
        for (int i = 1; i < w.played().size(); ++i)
            QVERIFY(w.played()[i].t >= w.played()[i - 1].t);
    }
};

QTEST_MAIN(TestLedView)
#include "tst_ledview.moc"
