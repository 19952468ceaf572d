#pragma once

#include <QElapsedTimer>
#include <QObject>

class QEventLoop;

// Time as the link sees it: a monotonic clock and a way to wait that keeps
// the program's events flowing. Tests give a virtual one, so that a 1.5 s
// time-out costs them nothing.
class Timebase
{
public:
    virtual ~Timebase() = default;
    // Milliseconds on a clock that never jumps.
    virtual qint64 elapsedMs() const = 0;
    // Waits at most ms milliseconds while pending events are processed; may
    // return sooner when something happened. ms <= 0 only processes events.
    virtual void waitMs(qint64 ms) = 0;

    // Microseconds on the same clock; by default the milliseconds.
    virtual qint64 elapsedUs() const { return elapsedMs() * 1000; }
    // A short wait in which only time has to pass (a byte leaving the line):
    // it may block without processing events. By default a waitMs.
    virtual void sleepUs(qint64 us) { waitMs((us + 999) / 1000); }

    // Waits until ms have passed on the clock.
    void pause(qint64 ms);
};

// The real one: a monotonic clock, and an event loop that a timer or an
// activity of the serial line ends.
class EventLoopTimebase : public QObject, public Timebase
{
    Q_OBJECT
public:
    explicit EventLoopTimebase(QObject *parent = nullptr);
    qint64 elapsedMs() const override;
    void waitMs(qint64 ms) override;
    qint64 elapsedUs() const override;
    void sleepUs(qint64 us) override;

public Q_SLOTS:
    // Ends the current wait early: something on the line may have changed.
    void wake();

private:
    QElapsedTimer m_clock;
    QEventLoop *m_loop = nullptr;
};
