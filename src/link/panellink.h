#pragma once

#include "encoder.h"

#include <QByteArray>
#include <QString>

#include <atomic>
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
    // How far a frame has gone: bytes written of all of it, and how long the
    // rest needs at the line's pace. Given as the frame starts, at least
    // every kProgressMs while it goes, and once it is whole.
    virtual void frameProgress(qsizetype /*written*/, qsizetype /*total*/, qint64 /*msLeft*/) {}
};

struct ExchangeResult {
    // ACK for a global send whose bytes all left, NAK for a time-out or a
    // port error, otherwise the reply payload.
    QByteArray bytes;
    // Why the exchange failed, for the operator: a port error, or what
    // the link saw ("o painel não respondeu").
    QString reason;

    bool succeeded() const;
};

struct LinkOptions {
    int panelType = 0;
    // A USB adapter needs a pause before every byte.
    bool usbAdapter = false;
};

// Carries one command at a time to the panels on the line and reads the
// answer. All waiting goes through the Timebase, on the thread that owns the
// line, which runs one exchange at a time (the port's worker, the tool).
//
// An answer belongs to its frame: input is discarded when the frame starts
// and again just before its last byte goes (a panel cannot answer a frame it
// has not had whole), and only an answer that carries the request's address
// counts; any other is passed over and the wait goes on.
class PanelLink
{
public:
    static constexpr qint64 kPauseMs = 100;
    static constexpr qint64 kWriteTimeoutMs = 1000;
    static constexpr qint64 kReadTimeoutMs = 1500;
    // However the bytes trickle in, an answer is over this long after the
    // frame has left: a device that babbles cannot hold the line.
    static constexpr qint64 kAnswerLimitMs = 10000;
    static constexpr qint64 kProgressMs = 250;

    PanelLink(SerialLine &line, Timebase &time, LinkOptions options = {},
              LinkListener *listener = nullptr);

    void setOptions(const LinkOptions &options) { m_options = options; }
    void setListener(LinkListener *listener) { m_listener = listener; }
    // Once set, an exchange still writes its frame whole (a cut frame is
    // worse than none) but waits for no answer: the program is ending.
    void setStopFlag(const std::atomic<bool> *stop) { m_stop = stop; }

    ExchangeResult exchangeFrame(qint16 address, const QByteArray &dataField);
    // A frame whose data another program has already encoded (a client of
    // a shared line): sent as it is, answered as any other.
    ExchangeResult exchangeEncoded(qint16 address, const QByteArray &data);

private:
    enum class Wait { Ready, TimedOut, PortError };
    Wait waitForInput(qint64 timeoutMs);
    Wait waitForDrain(qint64 timeoutUs);
    ExchangeResult run(qint16 address, const QByteArray &dataField, bool encode);
    bool writeFrame(const QByteArray &bytes, QString *reason);
    bool writeBytes(const QByteArray &bytes, QString *reason);
    void reportProgress(qsizetype written, qsizetype total);
    ExchangeResult readAnswer(qint16 address, qint64 wireEndMs);
    ExchangeResult nak(const QString &reason = {}) const;
    void trace(const QString &text, bool start = false);
    bool stopping() const { return m_stop && m_stop->load(); }

    SerialLine &m_line;
    Timebase &m_time;
    LinkOptions m_options;
    LinkListener *m_listener;
    MessageEncoder m_encoder;
    const std::atomic<bool> *m_stop = nullptr;
    qint64 m_lastWriteUs = 0;
    // The frame on its way: its size, and how much of it the line took.
    qsizetype m_frameTotal = 0;
    qsizetype m_frameHanded = 0;
    qint64 m_lastProgressMs = 0;
};
