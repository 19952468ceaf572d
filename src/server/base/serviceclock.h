#pragma once

#include <QDateTime>
#include <QObject>

#include <functional>

// The service's time, injected: the wall clock the agenda and the history
// read, a monotonic one for deadlines and the health check, and timers on
// it. Tests give a virtual one, so an agenda minute costs them nothing.
class ServiceClock
{
public:
    virtual ~ServiceClock() = default;
    virtual QDateTime now() const = 0;
    // The wall clock in UTC milliseconds, without the time zone (which
    // libc reads unlocked): safe from any thread.
    virtual qint64 epochMs() const { return now().toMSecsSinceEpoch(); }
    // Milliseconds that never jump; safe from any thread.
    virtual qint64 monotonicMs() const = 0;
    // Calls f on context's thread once ms have passed on this clock.
    virtual void after(qint64 ms, QObject *context, std::function<void()> f) = 0;

    // The real one.
    static ServiceClock &system();
};

// A moment as the history, the API and MQTT write it: ISO 8601 with the
// offset from UTC, so that it reads the same in any time zone.
inline QString isoWithOffset(const QDateTime &t)
{
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}
