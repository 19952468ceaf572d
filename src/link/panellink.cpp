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
    return !bytes.isEmpty() && quint8(bytes[0]) == frame::kAck;
}

PanelLink::PanelLink(SerialLine &line, Timebase &time, LinkOptions options, LinkListener *listener)
    : m_line(line), m_time(time), m_options(options), m_listener(listener)
{
}

ExchangeResult PanelLink::exchangeFrame(qint16 address, const QByteArray &dataField)
{
    return run(address, dataField, true);
}

ExchangeResult PanelLink::exchangeEncoded(qint16 address, const QByteArray &data)
{
    return run(address, data, false);
}

ExchangeResult PanelLink::nak(const QString &reason) const
{
    ExchangeResult r;
    r.bytes = QByteArray(1, char(frame::kNak));
    r.reason = reason;
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

PanelLink::Wait PanelLink::waitForDrain(qint64 timeoutUs)
{
    const qint64 deadline = m_time.elapsedUs() + timeoutUs;
    for (;;) {
        const qint64 pending = m_line.outputPending();
        if (pending < 0) return Wait::PortError;
        // What is still queued has not gone yet: a device server's queue
        // holds seconds of the frame.
        if (m_frameTotal > 0 && m_time.elapsedMs() - m_lastProgressMs >= kProgressMs)
            reportProgress(qMax<qint64>(0, m_frameHanded - pending), m_frameTotal);
        if (pending == 0) return Wait::Ready;
        const qint64 now = m_time.elapsedUs();
        if (now >= deadline) return Wait::TimedOut;
        qint64 sleep;
        if (m_line.byteTimeUs() > 0) {
            const qint64 due = m_lastWriteUs + pending * m_line.byteTimeUs() - kEarlyUs;
            sleep = qMax(kFinePollUs, due - now);
        } else {
            // The far end drains at the wire's speed at best: look again
            // when about half of what is left could have gone.
            sleep = qBound(kFinePollUs, pending * SerialLine::kWireByteUs / 2, qint64(20000));
        }
        m_time.sleepUs(qMin(deadline - now, sleep));
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
        // The line ends the wait as soon as a byte comes in.
        m_time.waitMs(deadline - now);
    }
}

// Writes the frame and tells the listener how far it has gone.
bool PanelLink::writeFrame(const QByteArray &bytes, QString *reason)
{
    m_frameTotal = bytes.size();
    m_frameHanded = 0;
    reportProgress(0, bytes.size());
    const bool whole = writeBytes(bytes, reason);
    m_frameTotal = 0;
    if (whole) reportProgress(bytes.size(), bytes.size());
    return whole;
}

// Writes the frame, a chunk at a time (one byte on a serial line), each only
// once the line's queue is empty. On failure the reason is in *reason.
bool PanelLink::writeBytes(const QByteArray &bytes, QString *reason)
{
    const bool network = m_line.byteTimeUs() == 0;
    const qint64 frameStartUs = m_time.elapsedUs();
    const auto drained = [&](qsizetype written) {
        // A serial line's queue holds one byte; a network line's holds what
        // the far end has still to put on its wire at 2400 baud.
        const qint64 limitUs = network ? frameStartUs + written * SerialLine::kWireByteUs -
                                             m_time.elapsedUs() + kWriteTimeoutMs * 1000
                                       : kWriteTimeoutMs * 1000;
        const Wait w = waitForDrain(qMax(limitUs, kWriteTimeoutMs * 1000));
        if (w == Wait::Ready) return true;
        *reason = w == Wait::PortError
                      ? m_line.errorString()
                      : QStringLiteral("a linha não aceitou os dados em %1 s")
                            .arg(double(qMax(limitUs, kWriteTimeoutMs * 1000)) / 1e6, 0, 'f', 1);
        return false;
    };
    const qsizetype chunk = qMax(1, m_line.chunkSize());
    for (qsizetype i = 0; i < bytes.size();) {
        if (m_options.usbAdapter) m_time.pause(kPauseMs);
        if (!drained(i)) return false;
        const qsizetype end = m_options.usbAdapter ? i + 1 : qMin(bytes.size(), i + chunk);
        for (; i < end; ++i) {
            // Whatever came in before the frame is whole cannot answer it.
            if (i == bytes.size() - 1) m_line.discardInput();
            if (!m_line.writeByte(quint8(bytes[i]))) {
                *reason = m_line.errorString();
                return false;
            }
        }
        m_lastWriteUs = m_time.elapsedUs();
        m_frameHanded = i;
    }
    return drained(bytes.size());
}

void PanelLink::reportProgress(qsizetype written, qsizetype total)
{
    if (!m_listener) return;
    m_lastProgressMs = m_time.elapsedMs();
    // A USB adapter's pause comes before every byte.
    const qint64 byteUs = SerialLine::kWireByteUs + (m_options.usbAdapter ? kPauseMs * 1000 : 0);
    m_listener->frameProgress(written, total, (total - written) * byteUs / 1000);
}

ExchangeResult PanelLink::readAnswer(qint16 address, qint64 wireEndMs)
{
    ReplyReceiver receiver;
    QString reason;
    // A network line's far end may still be putting the frame on its wire:
    // the waits count from when it can have finished.
    const qint64 answerEnd = qMax(m_time.elapsedMs(), wireEndMs) + kAnswerLimitMs;
    QByteArray passedOver;
    for (;;) {
        const qint64 firstByteExtra = receiver.collected().isEmpty() && passedOver.isEmpty()
                                          ? qMax<qint64>(0, wireEndMs - m_time.elapsedMs())
                                          : 0;
        const qint64 left = answerEnd - m_time.elapsedMs();
        if (left <= 0) {
            reason = QStringLiteral("nenhuma resposta completa em %1 s").arg(kAnswerLimitMs / 1000);
            break;
        }
        if (stopping()) {
            reason = QStringLiteral("o programa foi encerrado antes da resposta");
            break;
        }
        const Wait w = waitForInput(qMin(kReadTimeoutMs + firstByteExtra, left));
        if (w == Wait::PortError) {
            reason = m_line.errorString();
            break;
        }
        if (w == Wait::TimedOut) {
            if (left > kReadTimeoutMs + firstByteExtra)
                reason =
                    !receiver.collected().isEmpty() ? QStringLiteral("a resposta parou no meio")
                    : passedOver.isEmpty()          ? QStringLiteral("o painel não respondeu")
                                           : QStringLiteral("só chegou resposta de outro endereço");
            else
                reason =
                    QStringLiteral("nenhuma resposta completa em %1 s").arg(kAnswerLimitMs / 1000);
            break;
        }
        const int b = m_line.readByte();
        if (b < 0) {
            reason = m_line.errorString();
            break;
        }
        if (!receiver.feed(quint8(b))) continue;
        if (receiver.address() == quint16(address)) break;
        // Another panel's answer, or a late one of an earlier exchange.
        passedOver += receiver.collected();
        receiver.reset();
    }
    QByteArray collected = passedOver + receiver.collected();
    if (collected.isEmpty())
        trace(QStringLiteral("Nenhum Dado Recebido.") + kCrLf + kCrLf);
    else
        trace(QStringLiteral("Recebido:") + kCrLf + frame::hexDump(collected) + kCrLf + kCrLf);
    if (!receiver.isComplete()) return nak(reason);
    ExchangeResult r;
    r.bytes = receiver.payload();
    return r;
}

ExchangeResult PanelLink::run(qint16 address, const QByteArray &dataField, bool encode)
{
    m_time.pause(kPauseMs);
    QByteArray data = encode && dataField.size() > 1
                          ? m_encoder.encodeMessage(dataField, m_options.panelType)
                          : dataField;
    if (m_listener) m_listener->statusAppended(frame::sizeText(data.size()));
    data.truncate(frame::kMaxData);
    trace(QStringLiteral("Dados:") + kCrLf + cp1252::decode(data) + kCrLf + kCrLf, true);

    if (!m_line.isOpen()) return nak(m_line.errorString());
    m_line.discardOutput();
    const QByteArray bytes = frame::build(address, data);
    trace(QStringLiteral("Transmitido:") + kCrLf + frame::hexDump(bytes) + kCrLf + kCrLf);
    m_line.discardInput();

    QString reason;
    const qint64 frameStartMs = m_time.elapsedMs();
    if (!writeFrame(bytes, &reason)) {
        // Nothing left of a cut frame may reach the panel ahead of the next.
        m_line.abandonFrame();
        return nak(reason);
    }
    if (address == 0) {
        ExchangeResult r;
        r.bytes = QByteArray(1, char(frame::kAck));
        return r;
    }
    const qint64 wireEndMs =
        m_line.byteTimeUs() > 0
            ? 0
            : frameStartMs + qint64(bytes.size()) * SerialLine::kWireByteUs / 1000;
    return readAnswer(address, wireEndMs);
}
