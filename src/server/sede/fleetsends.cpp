#include "fleetsends.h"

#include "randombits.h"
#include "serviceclock.h"

#include <QDateTime>
#include <QJsonDocument>

#include <algorithm>

namespace
{

QString iso(qint64 ms)
{
    return isoWithOffset(QDateTime::fromMSecsSinceEpoch(ms));
}

QString hourMinute(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm"));
}

// The rollup's order: what went, then what did not and why.
const QList<QPair<QString, QString>> kWords = {
    {QStringLiteral("enviado"), QStringLiteral("enviados")},
    {QStringLiteral("falhou"), QStringLiteral("falhou")},
    {QStringLiteral("recusado"), QStringLiteral("recusado")},
    {QStringLiteral("expirado"), QStringLiteral("expirado")},
    {QStringLiteral("substituído"), QStringLiteral("substituído")},
    {QStringLiteral("parando"), QStringLiteral("parando")},
    {QStringLiteral("sem resposta"), QStringLiteral("sem resposta")},
    {QStringLiteral("aguardando"), QStringLiteral("aguardando")}};

} // namespace

FleetSends::FleetSends(qint64 validityMs, Publish publish, Changed changed)
    : m_validityMs(validityMs), m_publish(std::move(publish)), m_changed(std::move(changed))
{
}

void FleetSends::restore(const QList<Send> &sends)
{
    // Rows still waiting keep waiting: the broker kept their answers for
    // the head office's session, and the deadline still holds.
    for (Send s : sends) {
        s.open = int(std::count_if(s.rows.cbegin(), s.rows.cend(), [](const Row &r) { return !r.final; }));
        m_sends.push_back(s);
        while (m_sends.size() > size_t(kKept))
            m_sends.pop_front();
    }
}

FleetSends::Send *FleetSends::find(const QString &id)
{
    for (Send &s : m_sends)
        if (s.id == id) return &s;
    return nullptr;
}

const FleetSends::Send *FleetSends::send(const QString &id) const
{
    for (const Send &s : m_sends)
        if (s.id == id) return &s;
    return nullptr;
}

QString FleetSends::start(const QString &who, const QString &kind, const QString &value,
                          const QList<Target> &targets, qint64 nowMs, QString *why,
                          const QString &repeatOf, const QStringList &notes)
{
    int open = 0;
    for (const Send &s : m_sends)
        open += s.open > 0;
    if (targets.isEmpty()) {
        *why = QStringLiteral("nenhum painel escolhido");
        return {};
    }
    if (targets.size() > kMaxRows) {
        *why = QStringLiteral("painéis demais num envio (no máximo %1)").arg(kMaxRows);
        return {};
    }
    if (open >= kMaxOpen) {
        *why = QStringLiteral("%1 envios ainda esperam respostas; espere um terminar").arg(kMaxOpen);
        return {};
    }
    // Room for the new one: the oldest finished sends leave first.
    for (auto it = m_sends.begin(); m_sends.size() >= size_t(kKept) && it != m_sends.end();)
        it = it->open ? std::next(it) : m_sends.erase(it);
    Send s;
    do
        s.id = QString::number(nowMs, 36) + u'-' + QString::number(++m_counter, 36);
    while (send(s.id));
    s.who = who;
    s.kind = kind;
    s.value = value;
    s.repeatOf = repeatOf;
    s.notes = notes;
    s.whenMs = nowMs;
    s.expiresMs = nowMs + m_validityMs;
    // A short validity (a test, an urgent send) gets as short a grace.
    s.deadlineMs = s.expiresMs + std::min(kAnswerGraceMs, m_validityMs);
    for (const Target &t : targets)
        s.rows.append({t.site, t.panel, QStringLiteral("aguardando"), {}, !t.siteOnline, false,
                       randomBytes(6).toHex()});
    s.open = int(s.rows.size());
    m_sends.push_back(s);
    const QByteArray payload = value.toUtf8();
    for (int i = 0; i < s.rows.size(); ++i)
        m_publish(QStringLiteral("letreiro/%1/%2/%3").arg(s.rows[i].site, s.rows[i].panel, kind),
                  payload, (s.id + u'/' + QString::number(i)).toUtf8() + '/' + s.rows[i].token,
                  m_validityMs / 1000);
    m_changed(m_sends.back());
    return s.id;
}

QString FleetSends::repeat(const QString &id, const QString &who, qint64 nowMs,
                           const std::function<bool(const QString &)> &online, QString *why)
{
    const Send *s = send(id);
    if (!s) {
        *why = QStringLiteral("envio desconhecido: %1").arg(id);
        return {};
    }
    QList<Target> again;
    for (const Row &r : s->rows)
        if (r.final && r.result != QLatin1String("enviado"))
            again.append({r.site, r.panel, online(r.site)});
    if (again.isEmpty()) {
        *why = s->open ? QStringLiteral("o envio ainda espera respostas")
                       : QStringLiteral("todos os painéis já receberam");
        return {};
    }
    const Send copy = *s; // start() may let old ones go
    return start(who, copy.kind, copy.value, again, nowMs, why, copy.id);
}

void FleetSends::settle(Send &s, Row &row, const QString &result, const QString &reason)
{
    row.result = result;
    row.reason = reason;
    row.final = true;
    --s.open;
    ++m_totals[result];
}

std::pair<FleetSends::Send *, FleetSends::Row *> FleetSends::waiting(const QByteArray &correlation)
{
    const QList<QByteArray> parts = correlation.split('/');
    Send *s = parts.size() == 3 ? find(QString::fromUtf8(parts[0])) : nullptr;
    bool ok = false;
    const int i = parts.value(1).toInt(&ok);
    if (!s || !ok || i < 0 || i >= s->rows.size() || s->rows[i].final ||
        s->rows[i].token.isEmpty() || s->rows[i].token != parts[2])
        return {nullptr, nullptr};
    return {s, &s->rows[i]};
}

bool FleetSends::refusedByBroker(const QByteArray &correlation, const QString &why)
{
    const auto [s, row] = waiting(correlation);
    if (!row) return false;
    settle(*s, *row, QStringLiteral("recusado"), why);
    m_changed(*s);
    return true;
}

bool FleetSends::answer(const QByteArray &correlation, const QByteArray &payload)
{
    const auto [s, row] = waiting(correlation);
    if (!row) return false;
    const QJsonObject o = QJsonDocument::fromJson(payload).object();
    // A site answers in the one vocabulary; anything else is no answer.
    const QString result = o.value(QStringLiteral("resultado")).toString();
    static const QStringList kAnswers = {QStringLiteral("enviado"),     QStringLiteral("falhou"),
                                         QStringLiteral("substituído"), QStringLiteral("expirado"),
                                         QStringLiteral("recusado"),    QStringLiteral("parando")};
    if (!kAnswers.contains(result)) return false;
    settle(*s, *row, result, o.value(QStringLiteral("motivo")).toString().left(500));
    m_changed(*s);
    return true;
}

qint64 FleetSends::expire(qint64 nowMs)
{
    qint64 next = 0;
    for (Send &s : m_sends) {
        if (!s.open) continue;
        if (nowMs >= s.deadlineMs) {
            for (Row &r : s.rows)
                if (!r.final)
                    settle(s, r, QStringLiteral("sem resposta"),
                           r.waitingForSite
                               ? QStringLiteral("o sítio não voltou até %1").arg(hourMinute(s.expiresMs))
                               : QStringLiteral("nenhuma resposta do sítio até %1")
                                     .arg(hourMinute(s.deadlineMs)));
            m_changed(s);
            continue;
        }
        next = next ? std::min(next, s.deadlineMs) : s.deadlineMs;
    }
    return next;
}

QString FleetSends::rollUp(const Send &s)
{
    QHash<QString, int> count;
    for (const Row &r : s.rows)
        ++count[r.result];
    QStringList parts{QStringLiteral("%1 de %2 enviados")
                          .arg(count.value(QStringLiteral("enviado")))
                          .arg(s.rows.size())};
    for (const auto &[word, plural] : kWords)
        if (word != QLatin1String("enviado") && count.value(word))
            parts.append(QStringLiteral("%1 %2").arg(count.value(word)).arg(plural));
    return parts.join(QStringLiteral(", "));
}

QJsonObject FleetSends::json(const Send &s, bool withRows, bool audit)
{
    QJsonObject counts;
    for (const Row &r : s.rows)
        counts.insert(r.result, counts.value(r.result).toInt() + 1);
    QJsonObject o{{QStringLiteral("id"), s.id},
                  {QStringLiteral("quem"), s.who},
                  {QStringLiteral("quando"), iso(s.whenMs)},
                  {QStringLiteral("tipo"), s.kind},
                  {QStringLiteral("valor"), s.value},
                  {QStringLiteral("expira"), iso(s.expiresMs)},
                  {QStringLiteral("prazo"), iso(s.deadlineMs)},
                  {QStringLiteral("aberto"), s.open > 0},
                  {QStringLiteral("resumo"), rollUp(s)},
                  {QStringLiteral("contagem"), counts},
                  {QStringLiteral("total"), int(s.rows.size())}};
    if (!s.repeatOf.isEmpty()) o.insert(QStringLiteral("repete"), s.repeatOf);
    if (!s.notes.isEmpty()) o.insert(QStringLiteral("avisos"), QJsonArray::fromStringList(s.notes));
    if (!withRows) return o;
    QJsonArray rows;
    for (const Row &r : s.rows) {
        QJsonObject row{{QStringLiteral("sitio"), r.site},
                        {QStringLiteral("painel"), r.panel},
                        {QStringLiteral("resultado"), r.result}};
        QString reason = r.reason;
        if (!r.final && r.waitingForSite)
            reason = QStringLiteral("aguardando o sítio (expira às %1)").arg(hourMinute(s.expiresMs));
        if (!reason.isEmpty()) row.insert(QStringLiteral("motivo"), reason);
        if (audit && !r.final) row.insert(QStringLiteral("ficha"), QString::fromLatin1(r.token));
        rows.append(row);
    }
    o.insert(QStringLiteral("linhas"), rows);
    return o;
}
