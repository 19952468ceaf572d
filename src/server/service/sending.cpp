#include "sending.h"

#include <QJsonArray>

QString sendWord(SendEnd end)
{
    switch (end) {
    case SendEnd::Sent: return QStringLiteral("enviado");
    case SendEnd::Failed: return QStringLiteral("falhou");
    case SendEnd::Replaced: return QStringLiteral("substituído");
    case SendEnd::Expired: return QStringLiteral("expirado");
    case SendEnd::Refused: return QStringLiteral("recusado");
    case SendEnd::Stopping: return QStringLiteral("parando");
    }
    return {};
}

bool SendResult::interrupted() const
{
    return std::any_of(panels.cbegin(), panels.cend(),
                       [](const PanelSend &p) { return p.end == SendEnd::Stopping; });
}

QJsonObject SendResult::json() const
{
    QJsonObject o{{QStringLiteral("ok"), ok()}, {QStringLiteral("resultado"), sendWord(end)}};
    if (!reason.isEmpty()) o.insert(QStringLiteral("motivo"), reason);
    if (!warnings.isEmpty())
        o.insert(QStringLiteral("avisos"), QJsonArray::fromStringList(warnings));
    QJsonArray rows;
    for (const PanelSend &p : panels) {
        QJsonObject row{{QStringLiteral("painel"), p.panel},
                        {QStringLiteral("resultado"), sendWord(p.end)}};
        if (!p.reason.isEmpty()) row.insert(QStringLiteral("motivo"), p.reason);
        rows.append(row);
    }
    if (!rows.isEmpty()) o.insert(QStringLiteral("paineis"), rows);
    return o;
}

SendResult SendResult::refused(Refusal why, QString reason, QStringList warnings)
{
    SendResult r;
    r.end = SendEnd::Refused;
    r.refusal = why;
    r.reason = std::move(reason);
    r.warnings = std::move(warnings);
    return r;
}

SendResult SendResult::rollUp(QList<PanelSend> panels, QStringList warnings)
{
    SendResult r;
    r.panels = std::move(panels);
    r.warnings = std::move(warnings);
    for (const PanelSend &p : std::as_const(r.panels)) {
        if (p.end == SendEnd::Sent) continue;
        r.end = p.end;
        // A line's queue refuses only what it has no room for.
        if (p.end == SendEnd::Refused) r.refusal = Refusal::Full;
        r.reason = r.panels.size() > 1 ? QStringLiteral("%1: %2").arg(p.panel, p.reason) : p.reason;
        break;
    }
    return r;
}
