// What the service tells of itself: its warnings, its lines, its panels'
// last results, the agenda's entries, and what each door adds.
#include "letreiroservice.h"

#include "linequeue.h"

#include <algorithm>

QStringList LetreiroService::warnings() const
{
    QStringList out = m_warnings.values() + m_startNotes;
    for (const auto &part : m_doorWarnings)
        out += part();
    return out;
}

void LetreiroService::addWarnings(std::function<QStringList()> part)
{
    m_doorWarnings.append(std::move(part));
}

void LetreiroService::addState(const QString &key, std::function<QJsonValue()> part)
{
    m_states.append({key, std::move(part)});
}

QJsonArray LetreiroService::scheduleJson() const
{
    return m_agenda ? m_agenda->json() : QJsonArray();
}

Result<> LetreiroService::setSchedule(const QList<ScheduleEntry> &entries)
{
    if (!m_agenda) return Failure::notFound(QStringLiteral("este serviço não tem agenda"));
    return m_agenda->setEditable(entries);
}

QJsonArray LetreiroService::panelsJson() const
{
    QJsonArray out;
    for (const ServerConfig::Panel &p : m_config.panels) {
        QJsonObject o{{QStringLiteral("nome"), p.name},
                      {QStringLiteral("linha"), p.line},
                      {QStringLiteral("endereco"), p.address},
                      {QStringLiteral("tipo"), p.type}};
        const HistoryStore::Record *last = m_history.last(p.name);
        QJsonObject lastJson;
        if (last) {
            lastJson = {{QStringLiteral("quando"), isoWithOffset(last->when)},
                        {QStringLiteral("ok"), last->ok},
                        {QStringLiteral("resultado"), last->outcome}};
            if (!last->reason.isEmpty()) lastJson.insert(QStringLiteral("motivo"), last->reason);
        }
        o.insert(QStringLiteral("ultimo"), last ? QJsonValue(lastJson) : QJsonValue());
        out.append(o);
    }
    return out;
}

QJsonObject LetreiroService::stateJson() const
{
    QJsonArray lines;
    for (const ServerConfig::Line &l : m_config.lines) {
        const LineQueue *q = m_lines.value(l.name);
        lines.append(QJsonObject{{QStringLiteral("nome"), l.name},
                                 {QStringLiteral("porta"), l.device},
                                 {QStringLiteral("fila"), q ? q->waiting() : 0},
                                 {QStringLiteral("ocupada"), q && !q->isIdle()}});
    }
    QJsonObject out{{QStringLiteral("versao"), QStringLiteral("%1.%2.%3")
                                                   .arg(LETREIRO_VERSION_MAJOR)
                                                   .arg(LETREIRO_VERSION_MINOR)
                                                   .arg(LETREIRO_VERSION_PATCH)},
                    {QStringLiteral("linhas"), lines},
                    {QStringLiteral("avisos"), QJsonArray::fromStringList(warnings())}};
    for (const auto &[key, part] : m_states)
        out.insert(key, part());
    return out;
}

bool LetreiroService::isHealthy() const
{
    return std::none_of(m_lines.cbegin(), m_lines.cend(),
                        [](const LineQueue *q) { return q->isStuck(); });
}
