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

public Q_SLOTS:
    // Ends the current wait early: something on the line may have changed.
    void wake();

private:
    QElapsedTimer m_clock;
    QEventLoop *m_loop = nullptr;
};
