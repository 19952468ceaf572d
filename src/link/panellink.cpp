#include "panellink.h"

#include "cp1252.h"
#include "frame.h"
#include "replyreceiver.h"
#include "serialline.h"
#include "timebase.h"

namespace
{
const QString kCrLf = QStringLiteral("\r\n");
// The driver tells nothing when its queue drains. A byte cannot leave
// sooner than its time on the wire, so the link sleeps through that and
// looks often only around the moment it is due.
constexpr qint64 kFinePollUs = 50;
constexpr qint64 kEarlyUs = 200;
} // namespace

bool ExchangeResult::succeeded() const
{
    return !refused && !bytes.isEmpty() && quint8(bytes[0]) == frame::kAck;
}

PanelLink::PanelLink(SerialLine &line, Timebase &time, LinkOptions options, LinkListener *listener)
    : m_line(line), m_time(time), m_options(options), m_listener(listener)
{
}

ExchangeResult PanelLink::sendCommand(qint16 address, const QByteArray &dataField)
{
    return guarded(address, dataField, true);
}

ExchangeResult PanelLink::exchangeFrame(qint16 address, const QByteArray &dataField)
{
    return guarded(address, dataField, false);
}

ExchangeResult PanelLink::guarded(qint16 address, const QByteArray &dataField,
                                  bool processEventsFirst)
{
    // Busy from the first processing of events on: a command started from
    // that event handling must not get in before this one.
    if (m_busy) {
        ExchangeResult r;
        r.refused = true;
        return r;
    }
    m_busy = true;
    if (processEventsFirst) m_time.waitMs(0);
    ExchangeResult r = run(address, dataField);
    m_busy = false;
    return r;
}

ExchangeResult PanelLink::nak(const QString &portError) const
{
    ExchangeResult r;
    r.bytes = QByteArray(1, char(frame::kNak));
    r.portError = portError;
    return r;
}

void PanelLink::trace(const QString &text, bool start)
{
    if (!m_listener || !m_listener->traceWanted()) return;
    if (start)
        m_listener->traceStarted(text);
    else
        m_listener->traceAppended(text);
}

PanelLink::Wait PanelLink::waitForDrain(qint64 timeoutMs)
{
    const qint64 deadline = m_time.elapsedUs() + timeoutMs * 1000;
    for (;;) {
        const qint64 pending = m_line.outputPending();
        if (pending < 0) return Wait::PortError;
        if (pending == 0) return Wait::Ready;
        const qint64 now = m_time.elapsedUs();
        if (now >= deadline) return Wait::TimedOut;
        const qint64 due = m_lastWriteUs + pending * m_line.byteTimeUs() - kEarlyUs;
        m_time.sleepUs(qMin(deadline - now, qMax(kFinePollUs, due - now)));
    }
}

PanelLink::Wait PanelLink::waitForInput(qint64 timeoutMs)
{
    const qint64 deadline = m_time.elapsedMs() + timeoutMs;
    for (;;) {
        const qint64 available = m_line.inputAvailable();
        if (available < 0) return Wait::PortError;
        if (available > 0) return Wait::Ready;
        const qint64 now = m_time.elapsedMs();
        if (now >= deadline) return Wait::TimedOut;
        // The line wakes the wait as soon as a byte comes in.
        m_time.waitMs(deadline - now);
    }
}

ExchangeResult PanelLink::run(qint16 address, const QByteArray &dataField)
{
    m_time.pause(kPauseMs);
    QByteArray data =
        dataField.size() > 1 ? m_encoder.encodeMessage(dataField, m_options.panelType) : dataField;
    if (m_listener) m_listener->statusAppended(frame::sizeText(data.size()));
    data.truncate(frame::kMaxData);
    trace(QStringLiteral("Dados:") + kCrLf + cp1252::decode(data) + kCrLf + kCrLf, true);

    if (!m_line.isOpen()) return nak(m_line.errorString());
    m_line.discardOutput();
    const QByteArray bytes = frame::build(address, data);
    trace(QStringLiteral("Transmitido:") + kCrLf + frame::hexDump(bytes) + kCrLf + kCrLf);
    m_line.discardInput();

    for (const char b : bytes) {
        if (m_options.usbAdapter) m_time.pause(kPauseMs);
        const Wait w = waitForDrain(kWriteTimeoutMs);
        if (w != Wait::Ready) return nak(w == Wait::PortError ? m_line.errorString() : QString());
        if (!m_line.writeByte(quint8(b))) return nak(m_line.errorString());
        m_lastWriteUs = m_time.elapsedUs();
    }
    if (const Wait w = waitForDrain(kWriteTimeoutMs); w != Wait::Ready)
        return nak(w == Wait::PortError ? m_line.errorString() : QString());

    if (address == 0) {
        ExchangeResult r;
        r.bytes = QByteArray(1, char(frame::kAck));
        return r;
    }

    ReplyReceiver receiver;
    QString portError;
    const qint64 answerEnd = m_time.elapsedMs() + kAnswerLimitMs;
    while (!receiver.isComplete()) {
        const qint64 left = answerEnd - m_time.elapsedMs();
        if (left <= 0) break;
        const Wait w = waitForInput(qMin(kReadTimeoutMs, left));
        if (w == Wait::PortError) portError = m_line.errorString();
        if (w != Wait::Ready) break;
        const int b = m_line.readByte();
        if (b < 0) {
            portError = m_line.errorString();
            break;
        }
        receiver.feed(quint8(b));
    }
    if (receiver.collected().isEmpty())
        trace(QStringLiteral("Nenhum Dado Recebido.") + kCrLf + kCrLf);
    else
        trace(QStringLiteral("Recebido:") + kCrLf + frame::hexDump(receiver.collected()) + kCrLf +
              kCrLf);
    if (!receiver.isComplete()) return nak(portError);
    ExchangeResult r;
    r.bytes = receiver.payload();
    return r;
}
