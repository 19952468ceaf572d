#pragma once

#include "serialline.h"
#include "timebase.h"

#include <QByteArray>
#include <QVector>

#include <algorithm>
#include <functional>

// Virtual time: waiting moves the clock on at once.
class VirtualTimebase : public Timebase
{
public:
    qint64 elapsedMs() const override { return now; }
    qint64 elapsedUs() const override { return now * 1000 + nowUs; }
    void sleepUs(qint64 us) override
    {
        nowUs += us;
        now += nowUs / 1000;
        nowUs %= 1000;
        if (onWait) onWait();
    }
    void waitMs(qint64 ms) override
    {
        if (ms > 0) now = wakeBy ? qMin(now + ms, wakeBy(now + ms)) : now + ms;
        if (onWait) onWait();
    }

    qint64 now = 0;
    // When set, a wait ends at this time if it comes first, as a real line
    // ends it when a byte comes in.
    std::function<qint64(qint64 until)> wakeBy;
    qint64 nowUs = 0; // below the millisecond
    std::function<void()> onWait;
};

// A serial line whose bytes take a set time to leave, and whose answers
// arrive at set virtual times.
class FakeLine : public SerialLine
{
public:
    explicit FakeLine(VirtualTimebase &time) : m_time(time) {}

    bool isOpen() const override { return open; }
    void discardOutput() override { ++discardedOutput; }
    // Only what has arrived; bytes still on their way come later.
    void discardInput() override
    {
        ++discardedInput;
        m_incoming.removeIf([&](const Incoming &in) { return in.at <= m_time.now; });
    }
    qint64 byteTimeUs() const override { return networkUsPerByte > 0 ? 0 : kWireByteUs; }
    int chunkSize() const override { return networkUsPerByte > 0 ? 256 : 1; }
    void abandonFrame() override { ++abandoned; }
    bool writeByte(quint8 b) override
    {
        if (failAfterBytes >= 0 && written.size() >= failAfterBytes) {
            open = false;
            return false;
        }
        written.append(char(b));
        writeTimes.append(m_time.now);
        m_departures.append(qMax(m_time.elapsedUs(), lastDepartureUs()) + networkUsPerByte);
        if (onWrite) onWrite(*this);
        return true;
    }
    qint64 outputPending() override
    {
        if (!open) return -1;
        if (written.isEmpty()) return 0;
        if (networkUsPerByte > 0) {
            const qint64 t = m_time.elapsedUs();
            const qint64 queued = std::count_if(m_departures.begin(), m_departures.end(),
                                                [t](qint64 d) { return d > t; });
            return qMax<qint64>(0, queued - farEndBuffer);
        }
        return stuck || m_time.now - writeTimes.last() < drainMs ? 1 : 0;
    }
    qint64 inputAvailable() override
    {
        if (!open) return -1;
        return std::count_if(m_incoming.begin(), m_incoming.end(),
                             [&](const Incoming &in) { return in.at <= m_time.now; });
    }
    int readByte() override
    {
        if (!open || m_incoming.isEmpty() || m_incoming.front().at > m_time.now) return -1;
        return quint8(m_incoming.takeFirst().byte);
    }
    QString errorString() const override { return QStringLiteral("porta perdida"); }

    // Bytes that arrive `afterMs` from now, one every `gapMs`.
    void answer(const QByteArray &bytes, qint64 afterMs = 0, qint64 gapMs = 0)
    {
        qint64 t = m_time.now + afterMs;
        for (const char b : bytes) {
            m_incoming.append({t, b});
            t += gapMs;
        }
    }

    // Waits end when a byte arrives, not at their time-out: times counted
    // to the millisecond from each byte.
    void wakeOnArrival()
    {
        m_time.wakeBy = [this](qint64 until) {
            for (const auto &in : m_incoming)
                if (in.at > m_time.now) until = qMin(until, in.at);
            return until;
        };
    }

    // Answers once a whole frame of `frameSize` bytes has been written.
    void answerAfterFrame(qsizetype frameSize, const QByteArray &reply, qint64 afterMs = 30,
                          qint64 gapMs = 5)
    {
        onWrite = [=](FakeLine &l) {
            if (l.written.size() == frameSize) l.answer(reply, afterMs, gapMs);
        };
    }

    bool open = true;
    bool stuck = false;
    qint64 drainMs = 0;
    qsizetype failAfterBytes = -1;
    // A device server that puts each byte on its wire this long after the
    // one before; 0 for a serial line.
    qint64 networkUsPerByte = 0;
    // Bytes the far end holds before its wire: they count as sent.
    qint64 farEndBuffer = 0;
    // When the last byte written leaves the far end's wire, in ms.
    qint64 lastDepartureMs() const { return lastDepartureUs() / 1000; }
    int abandoned = 0;
    int discardedOutput = 0;
    int discardedInput = 0;
    QByteArray written;
    QVector<qint64> writeTimes;
    std::function<void(FakeLine &)> onWrite;

private:
    struct Incoming {
        qint64 at;
        char byte;
    };
    VirtualTimebase &m_time;
    QVector<Incoming> m_incoming;
    QVector<qint64> m_departures;
    qint64 lastDepartureUs() const { return m_departures.value(m_departures.size() - 1); }
};
