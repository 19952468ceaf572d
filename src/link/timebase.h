#pragma once

#include <QtGlobal>

// Time as the link sees it: a monotonic clock and a way to wait. Tests give
// a virtual one, so that a 1.5 s time-out costs them nothing. The real one
// blocks the thread that owns the line (never the window's): nothing on
// that thread has to run while an exchange waits, and a request that
// arrives meanwhile runs after the exchange.
class Timebase
{
public:
    virtual ~Timebase() = default;
    // Milliseconds on a clock that never jumps.
    virtual qint64 elapsedMs() const = 0;
    // Waits at most ms milliseconds; may return sooner when something
    // happened on the line. ms <= 0 returns at once.
    virtual void waitMs(qint64 ms) = 0;

    // Microseconds on the same clock; by default the milliseconds.
    virtual qint64 elapsedUs() const { return elapsedMs() * 1000; }
    // A short wait in which only time has to pass (a byte leaving the line).
    // By default a waitMs.
    virtual void sleepUs(qint64 us) { waitMs((us + 999) / 1000); }

    // Waits until ms have passed on the clock.
    void pause(qint64 ms);
};
