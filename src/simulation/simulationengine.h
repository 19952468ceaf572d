#pragma once

#include "richtext.h"
#include "simwidth.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QVector>

#include <functional>
#include <optional>

// What the engine asks its driver to do before the next call.
struct SimWait {
    enum Kind {
        Plain,     // wait the whole time, whatever happens
        Stoppable, // wait, but end at once when a stop is requested
        UntilStop, // wait for a stop request, however long
        Finished,  // the engine has ended: close the window
    };
    Kind kind = Plain;
    int ms = 0;

    friend bool operator==(const SimWait &a, const SimWait &b)
    {
        return a.kind == b.kind && a.ms == b.ms;
    }
};

// Plays a message as a one-line panel of W characters shows it: plain text
// scrolls in from the right, and the effect tags (known by the underline on
// their names) change the pace, hold, blink, show the next stretch at once or
// show the date, the clock and the temperature for about five seconds. The
// message repeats until a stop is requested.
//
// The engine never waits itself. Each advance() carries out the work up to
// the next wait and says what that wait is; a driver carries the waits out,
// on real time for the windows or on virtual time for tests and the
// command-line tool.
class SimulationEngine
{
public:
    using WallClock = std::function<QDateTime()>;

    SimulationEngine(const RichText &message, int width, WallClock wallClock,
                     const QLocale &locale = QLocale::system());

    SimWait advance();
    void requestStop() { m_stopRequested = true; }
    bool stopRequested() const { return m_stopRequested; }
    bool isFinished() const { return m_phase == Phase::Finished; }

    int width() const { return m_width; }
    // The view line; the panel shows its last W characters when it is
    // aligned right and its first W when aligned left.
    const RichText &view() const { return m_view; }
    // The last tag read, all thirteen characters.
    const QString &tagBox() const { return m_tagBox; }
    // The W cells of the panel, empty where nothing stands.
    QVector<std::optional<RichChar>> cells() const;

    // Everything that decides what the engine does next, as bytes: two
    // equal keys are followed by the same states. A message that reads the
    // clock (the clock, date or temperature tags) has no such future.
    QByteArray stateKey() const;
    bool readsTheClock() const { return m_readsTheClock; }

    qsizetype readPos() const { return m_readPos; }

private:
    enum class Phase { Top, EndPause, AfterPause, BlinkRestore, Live, Finished };

    SimWait step();
    SimWait plainStep(const RichChar &c);
    SimWait tagStep(qsizetype start);
    void showChunk();
    SimWait liveRefresh();
    void emptyView();
    SimWait endStep();

    RichText m_message;
    int m_width;
    WallClock m_wallClock;
    QLocale m_locale;

    qsizetype m_readPos = 0;
    int m_stepDelayMs = 90;
    ColourRef m_tagColour = 0;
    bool m_stopRequested = false;

    Phase m_phase = Phase::Top;
    RichText m_view;
    RichText m_saved; // the view during a blink
    QString m_tagBox;
    simwidth::Live m_live = simwidth::Live::Clock;
    int m_liveRefresh = 0;
    bool m_readsTheClock = false;
};
