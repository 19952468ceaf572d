#include "simdrivers.h"

#include <limits>
#include <memory>

void VirtualSimulationDriver::run(qint64 untilMs,
                                  const std::function<void(qint64, SimWait)> &onState)
{
    while (m_now <= untilMs) {
        if (m_stopAt >= 0 && m_now >= m_stopAt) m_engine.requestStop();
        const SimWait w = m_engine.advance();
        if (onState) onState(m_now, w);
        qint64 end = m_now;
        const bool stopComing = m_stopAt >= 0;
        switch (w.kind) {
        case SimWait::Finished:
            return;
        case SimWait::Plain:
            end = m_now + w.ms;
            break;
        case SimWait::Stoppable:
            end = m_now + w.ms;
            if (m_engine.stopRequested())
                end = m_now;
            else if (stopComing && m_stopAt < end)
                end = qMax(m_now, m_stopAt);
            break;
        case SimWait::UntilStop:
            if (m_engine.stopRequested())
                end = m_now;
            else
                end = stopComing ? qMax(m_now, m_stopAt) : std::numeric_limits<qint64>::max();
            break;
        }
        if (end > untilMs) {
            m_now = untilMs + 1;
            return;
        }
        m_now = end;
    }
}

RealTimeSimulationDriver::RealTimeSimulationDriver(SimulationEngine &engine, QObject *parent,
                                                   Clock clock)
    : QObject(parent), m_engine(engine), m_clock(std::move(clock))
{
    if (!m_clock) {
        auto steady = std::make_shared<QElapsedTimer>();
        steady->start();
        m_clock = [steady] { return steady->nsecsElapsed(); };
    }
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &RealTimeSimulationDriver::onTimer);
}

void RealTimeSimulationDriver::start()
{
    m_running = true;
    m_startNs = m_clock();
    m_dueNs = 0;
    onTimer();
}

void RealTimeSimulationDriver::stop()
{
    m_engine.requestStop();
    if (!m_running) return;
    if (m_waiting == SimWait::Stoppable || m_waiting == SimWait::UntilStop) {
        m_timer.stop();
        schedule(elapsedNs());
    }
}

void RealTimeSimulationDriver::schedule(qint64 dueNs)
{
    m_dueNs = dueNs;
    const qint64 waitNs = m_dueNs - elapsedNs();
    m_timer.start(int(qMax<qint64>(0, (waitNs + 999999) / 1000000)));
}

void RealTimeSimulationDriver::onTimer()
{
    m_lastLatenessUs = (elapsedNs() - m_dueNs) / 1000;
    const SimWait w = m_engine.advance();
    m_waiting = w.kind;
    Q_EMIT stateChanged();
    switch (w.kind) {
    case SimWait::Finished:
        m_running = false;
        Q_EMIT finished();
        return;
    case SimWait::UntilStop:
        if (m_engine.stopRequested()) schedule(elapsedNs());
        return; // stop() goes on
    case SimWait::Stoppable:
        if (m_engine.stopRequested()) {
            schedule(elapsedNs());
            return;
        }
        [[fallthrough]];
    case SimWait::Plain:
        schedule(m_dueNs + qint64(w.ms) * 1000000);
        return;
    }
}
