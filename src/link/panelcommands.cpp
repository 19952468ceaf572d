#include "panelcommands.h"

#include "frame.h"
#include "panellink.h"

namespace datafield
{

quint8 bcd(int value)
{
    value = qBound(0, value, 99);
    return quint8(value / 10 * 16 + value % 10);
}

QByteArray clock(const QTime &time)
{
    QByteArray f("R");
    f.append(char(bcd(time.hour()))).append(char(bcd(time.minute())));
    f.append(char(bcd(time.second())));
    return f;
}

QByteArray date(const QDate &date)
{
    QByteArray f("D");
    f.append(char(bcd(date.day()))).append(char(bcd(date.month())));
    f.append(char(bcd(date.year() % 100))).append(char(date.dayOfWeek()));
    return f;
}

} // namespace datafield

QString CommandOutcome::statusWithReason() const
{
    if (succeeded || reason.isEmpty()) return status;
    return QStringLiteral("%1 (%2)").arg(status, reason);
}

CommandOutcome PanelCommands::send(qint16 address, const QByteArray &field,
                                   const QString &globalText, bool encode)
{
    const ExchangeResult r =
        encode ? m_link.exchangeFrame(address, field) : m_link.exchangeEncoded(address, field);
    CommandOutcome out;
    out.reply = r.bytes;
    out.reason = r.reason;
    out.succeeded = r.succeeded();
    // An answer that is neither ACK nor NAK is no refusal: something else
    // (another device, another speed) is on the line.
    if (!out.succeeded && out.reason.isEmpty())
        out.reason = !r.bytes.isEmpty() && quint8(r.bytes[0]) == frame::kNak
                         ? QStringLiteral("o painel recusou a mensagem")
                         : QStringLiteral("resposta desconhecida do painel: %1")
                               .arg(frame::hexDump(r.bytes).trimmed());
    if (!out.succeeded)
        out.status = status::kFailure;
    else
        out.status = address == 0 ? globalText : status::kSuccess;
    return out;
}

CommandOutcome PanelCommands::transfer(qint16 address, const QByteArray &loadField)
{
    return send(address, loadField, status::kGlobalSuccess);
}

CommandOutcome PanelCommands::letter(qint16 address, char letter)
{
    return send(address, QByteArray(1, letter), status::kGlobalSuccess);
}

CommandOutcome PanelCommands::setClock(const QDateTime &now)
{
    return send(0, datafield::clock(now.time()), status::kClockSet);
}

CommandOutcome PanelCommands::setDate(const QDateTime &now)
{
    return send(0, datafield::date(now.date()), status::kDateSet);
}

CommandOutcome PanelCommands::relay(qint16 address, const QByteArray &encodedData)
{
    return send(address, encodedData, status::kGlobalSuccess, false);
}
