#pragma once

#include "ledsvg.h"
#include "simulationengine.h"

#include <QByteArray>
#include <QHash>

#include <optional>

// When a message starts over: the engine is deterministic, so once it is in
// a state (and about to wait) exactly as it was before, everything from then
// on repeats. Fed at each change of what the panel shows, the finder knows
// the first such return.
class PeriodFinder
{
public:
    struct Period {
        qint64 startMs = 0;  // when the repeating part begins (0: from the start)
        qint64 lengthMs = 0; // how long one round of it takes
    };

    // The engine has just advanced, at ms, to a state the panel shows
    // differently from the one before, and is about to wait as `wait` says.
    void stateChanged(const SimulationEngine &engine, SimWait wait, qint64 ms);
    // A message that reads the clock, or that was stopped, never repeats.
    void giveUp() { m_givenUp = true; }

    const std::optional<Period> &period() const { return m_period; }

private:
    QHash<QByteArray, qint64> m_seen; // digest of the state -> when
    std::optional<Period> m_period;
    bool m_givenUp = false;
};

// Plays the message on virtual time until it starts over (at most limitMs):
// its states up to the end of its first round, as the panel shows them, and
// the round. Nothing for a message that reads the clock, or that does not
// repeat within the limit.
struct MessageRound {
    QVector<LedState> states;
    LedLoop loop;
};
std::optional<MessageRound> firstRound(const RichText &message, int width, qint64 limitMs);

// The animation of a message as `simula --svg` writes it: one round,
// looped, when the message repeats within untilMs; otherwise the states up
// to untilMs (at most maxStates of them; nothing beyond). `start` is the
// wall clock the clock and date tags read.
QByteArray messageAnimation(const RichText &message, int width, qint64 untilMs,
                            const QDateTime &start, int maxStates = 50000);
