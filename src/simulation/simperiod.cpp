#include "simperiod.h"

#include "simdrivers.h"

#include <QCryptographicHash>

void PeriodFinder::stateChanged(const SimulationEngine &engine, SimWait wait, qint64 ms)
{
    if (m_period || m_givenUp) return;
    if (engine.readsTheClock() || engine.stopRequested()) {
        m_givenUp = true;
        return;
    }
    QByteArray key = engine.stateKey();
    key += QByteArray::number(int(wait.kind)) + ':' + QByteArray::number(wait.ms);
    // A digest keeps the table small for long messages (a 30-cell view is
    // over a kilobyte of state).
    const QByteArray digest = QCryptographicHash::hash(key, QCryptographicHash::Sha1);
    const auto it = m_seen.constFind(digest);
    if (it == m_seen.constEnd()) {
        m_seen.insert(digest, ms);
        return;
    }
    m_period = Period{*it, ms - *it};
    m_seen.clear();
}

std::optional<MessageRound> firstRound(const RichText &message, int width, qint64 limitMs)
{
    SimulationEngine engine(message, width, [] { return QDateTime(); });
    if (engine.readsTheClock()) return std::nullopt;
    VirtualSimulationDriver driver(engine);
    PeriodFinder finder;
    MessageRound round;
    QString lastTag;
    driver.run(limitMs, [&](qint64 t, SimWait wait) {
        // The engine finishes only when stopped, and only this stops it.
        if (finder.period()) {
            engine.requestStop(); // nothing more is needed
            return;
        }
        PanelCells cells = engine.cells();
        if (!round.states.isEmpty() && cells == round.states.last().cells &&
            engine.tagBox() == lastTag)
            return;
        lastTag = engine.tagBox();
        finder.stateChanged(engine, wait, t);
        if (!finder.period()) round.states.append({double(t) / 1000.0, std::move(cells)});
    });
    const auto &p = finder.period();
    if (!p) return std::nullopt;
    round.loop = {double(p->startMs) / 1000.0, double(p->lengthMs) / 1000.0};
    return round;
}

QByteArray messageAnimation(const RichText &message, int width, qint64 untilMs,
                            const QDateTime &start, int maxStates)
{
    if (const auto round = firstRound(message, width, untilMs))
        return ledAnimationSvg(round->states, 0, width, round->loop);
    const VirtualSimulationDriver *clock = nullptr;
    SimulationEngine engine(message, width,
                            [&] { return start.addMSecs(clock ? clock->now() : 0); });
    VirtualSimulationDriver driver(engine);
    clock = &driver;
    QVector<LedState> states;
    QString lastTag;
    qint64 end = untilMs;
    driver.run(untilMs, [&](qint64 t, SimWait wait) {
        if (wait.kind == SimWait::Finished) {
            end = t;
            return;
        }
        PanelCells cells = engine.cells();
        if (states.size() >= maxStates ||
            (!states.isEmpty() && cells == states.last().cells && engine.tagBox() == lastTag))
            return;
        lastTag = engine.tagBox();
        states.append({double(t) / 1000.0, std::move(cells)});
    });
    return ledAnimationSvg(states, double(end) / 1000.0, width);
}
