#pragma once

#include "simulationengine.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// Carries out the engine's waits on virtual time: a wait costs nothing, and
// "Parar" can be pressed at a chosen virtual time. Tests and the
// command-line tool use it.
class VirtualSimulationDriver
{
public:
    explicit VirtualSimulationDriver(SimulationEngine &engine) : m_engine(engine) {}

    // Presses "Parar" at this virtual time (milliseconds from the start).
    void setStopAt(qint64 ms) { m_stopAt = ms; }
    qint64 now() const { return m_now; }

    // Plays until the virtual time reaches untilMs or the engine ends.
    // onState is called after every advance of the engine, at its time.
    void run(qint64 untilMs, const std::function<void(qint64 ms, SimWait wait)> &onState);

private:
    SimulationEngine &m_engine;
    qint64 m_now = 0;
    qint64 m_stopAt = -1;
};

// Carries out the engine's waits on real time with a timer, so the event
// loop stays free: the window repaints and "Parar" can be pressed. Waits are
// counted from when they were due, not from when the timer fired, so
// lateness does not add up.
class RealTimeSimulationDriver : public QObject
{
    Q_OBJECT
public:
    // Nanoseconds on a monotonic clock; the process's own by default.
    using Clock = std::function<qint64()>;

    explicit RealTimeSimulationDriver(SimulationEngine &engine, QObject *parent = nullptr,
                                      Clock clock = {});

    void start();
    // "Parar": plain waits run out, stoppable ones end now.
    void stop();
    // How late the last advance ran against its schedule, in microseconds.
    qint64 lastLatenessUs() const { return m_lastLatenessUs; }
    // When the next advance is due, in nanoseconds from start().
    qint64 dueNs() const { return m_dueNs; }
    // Nanoseconds from start() on the driver's clock.
    qint64 elapsedNs() const { return m_clock() - m_startNs; }

Q_SIGNALS:
    void stateChanged();
    void finished();

private:
    void onTimer();
    void schedule(qint64 dueNs);

    SimulationEngine &m_engine;
    QTimer m_timer;
    Clock m_clock;
    qint64 m_startNs = 0;
    qint64 m_dueNs = 0;
    qint64 m_lastLatenessUs = 0;
    SimWait::Kind m_waiting = SimWait::Plain;
    bool m_running = false;
};
