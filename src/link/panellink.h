#pragma once

#include "encoder.h"

#include <QByteArray>
#include <QString>

#include <functional>

class SerialLine;
class Timebase;

// Who watches the exchanges: the status bar gets the size text, the debug
// window the trace. Every method has a do-nothing default.
class LinkListener
{
public:
    virtual ~LinkListener() = default;
    virtual void statusAppended(const QString &) {}
    // Whether a trace is wanted (the debug window is open).
    virtual bool traceWanted() const { return false; }
    // A new exchange replaces the trace; the later steps add to it.
    virtual void traceStarted(const QString &) {}
    virtual void traceAppended(const QString &) {}
};

struct ExchangeResult {
    // ACK for a global send whose bytes all left, NAK for a time-out or a
    // port error, otherwise the reply payload.
    QByteArray bytes;
    // Another exchange was running: nothing was sent.
    bool refused = false;
    // A port error, when one ended the exchange.
    QString portError;

    bool succeeded() const;
};

struct LinkOptions {
    int panelType = 0;
    // A USB adapter needs a pause before every byte.
    bool usbAdapter = false;
};

// Carries one command at a time to the panels on the serial line and reads
// the answer. All waiting goes through the Timebase, so the program's events
// keep flowing meanwhile; a command started from that event handling while an
// exchange runs is refused at once.
class PanelLink
{
public:
    static constexpr qint64 kPauseMs = 100;
    static constexpr qint64 kWriteTimeoutMs = 1000;
    static constexpr qint64 kReadTimeoutMs = 1500;
    // However the bytes trickle in, an answer is over this long after the
    // frame has left: a device that babbles cannot hold the line.
    static constexpr qint64 kAnswerLimitMs = 10000;

    PanelLink(SerialLine &line, Timebase &time, LinkOptions options = {},
              LinkListener *listener = nullptr);

    void setOptions(const LinkOptions &options) { m_options = options; }
    void setListener(LinkListener *listener) { m_listener = listener; }
    bool isBusy() const { return m_busy; }

    // Processes pending events, then makes one exchange.
    ExchangeResult sendCommand(qint16 address, const QByteArray &dataField);
    ExchangeResult exchangeFrame(qint16 address, const QByteArray &dataField);

private:
    enum class Wait { Ready, TimedOut, PortError };
    Wait waitForInput(qint64 timeoutMs);
    Wait waitForDrain(qint64 timeoutMs);
    ExchangeResult guarded(qint16 address, const QByteArray &dataField, bool processEventsFirst);
    ExchangeResult run(qint16 address, const QByteArray &dataField);
    ExchangeResult nak(const QString &portError = {}) const;
    void trace(const QString &text, bool start = false);

    SerialLine &m_line;
    Timebase &m_time;
    LinkOptions m_options;
    LinkListener *m_listener;
    MessageEncoder m_encoder;
    bool m_busy = false;
    qint64 m_lastWriteUs = 0;
};
