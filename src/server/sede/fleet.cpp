#include "fleet.h"

#include "serviceclock.h"

#include <QDateTime>
#include <QJsonDocument>

#include <algorithm>

namespace
{

// From the best to the worst: what a site's row shows is its worst panel.
const QStringList kRank = {QStringLiteral("enviado"), QStringLiteral("substituído"),
                           QStringLiteral("expirado"), QStringLiteral("parando"),
                           QStringLiteral("recusado"), QStringLiteral("falhou")};

bool isName(const QString &s)
{
    return !s.isEmpty() && s.size() <= 64 && !s.contains(u'+') && !s.contains(u'#');
}

QJsonValue since(qint64 ms)
{
    return ms ? QJsonValue(isoWithOffset(QDateTime::fromMSecsSinceEpoch(ms))) : QJsonValue();
}

} // namespace

Fleet::Fleet(const QStringList &expected, qint64 staleMs) : m_staleMs(staleMs)
{
    for (const QString &name : expected)
        m_sites[name].name = name;
}

Fleet::Site *Fleet::siteFor(const QString &name)
{
    if (!isName(name)) return nullptr;
    auto it = m_sites.find(name);
    if (it != m_sites.end()) return &*it;
    if (m_sites.size() >= kMaxSites) return nullptr;
    Site &s = m_sites[name];
    s.name = name;
    return &s;
}

bool Fleet::take(const QString &topic, const QByteArray &payload, bool retained, qint64 nowMs)
{
    const QStringList parts = topic.split(u'/');
    if (parts.size() < 3 || parts.size() > 4 || parts[0] != QLatin1String("letreiro")) return false;
    const QString last = parts.last();
    // letreiro/SITE/PAINEL/texto and the like are what sites read, not say.
    if (parts.size() == 4 && last != QLatin1String("estado")) return false;
    if (parts.size() == 3 && last != QLatin1String("estado") && last != QLatin1String("paineis"))
        return false;
    // An empty retained payload takes a site's record away: not a word from it.
    if (payload.isEmpty()) return false;
    Site *s = siteFor(parts[1]);
    if (!s) return false;
    if (parts.size() == 3 && last == QLatin1String("estado")) {
        const auto presence = payload == "online"        ? Site::Presence::Online
                              : payload == "sem leitura" ? Site::Presence::Deaf
                                                         : Site::Presence::Offline;
        // A retained presence is from before the head office listened: its
        // will says nothing of when it came, the site's last word does.
        if (presence != s->presence) s->presenceSinceMs = retained ? 0 : nowMs;
        s->presence = presence;
        if (presence != Site::Presence::Offline && !retained) s->lastSeenMs = nowMs;
        return true;
    }
    const QJsonObject o = QJsonDocument::fromJson(payload).object();
    if (o.isEmpty()) return false;
    if (!retained) {
        s->lastSeenMs = nowMs;
    } else if (const QDateTime said = QDateTime::fromString(
                   o.value(QStringLiteral("quando")).toString(), Qt::ISODate);
               said.isValid()) {
        s->lastSeenMs = std::max(s->lastSeenMs, std::min(said.toMSecsSinceEpoch(), nowMs));
    }
    if (last == QLatin1String("paineis")) {
        QList<Panel> panels;
        for (const QJsonValue &v : o.value(QStringLiteral("paineis")).toArray()) {
            const QJsonObject p = v.toObject();
            const QString name = p.value(QStringLiteral("painel")).toString();
            if (!isName(name) || panels.size() >= kMaxPanels) continue;
            Panel panel{name, p.value(QStringLiteral("linha")).toString().left(64),
                        p.value(QStringLiteral("tipo")).toInt(),
                        p.value(QStringLiteral("largura")).toInt(), {}};
            for (const Panel &before : std::as_const(s->panels))
                if (before.name == name) panel.state = before.state;
            panels.append(panel);
        }
        s->panels = panels;
        return true;
    }
    // What the page shows of it, each within its bound.
    const auto field = [&](const char *key, int chars) {
        return o.value(QLatin1String(key)).toString().left(chars);
    };
    QJsonObject state{{QStringLiteral("ok"), o.value(QStringLiteral("ok")).toBool()},
                      {QStringLiteral("resultado"), field("resultado", 32)},
                      {QStringLiteral("quando"), field("quando", 40)},
                      {QStringLiteral("texto"), field("texto", kMaxTextChars)}};
    if (o.contains(QStringLiteral("motivo"))) state.insert(QStringLiteral("motivo"), field("motivo", 500));
    for (Panel &p : s->panels)
        if (p.name == parts[2]) {
            p.state = state;
            return true;
        }
    // A state before its panel is listed: kept for when it is.
    if (s->panels.size() >= kMaxPanels || !isName(parts[2])) return false;
    s->panels.append({parts[2], {}, 0, 0, state});
    return true;
}

QString Fleet::stateWord(const Site &s, qint64 nowMs) const
{
    switch (s.presence) {
    case Site::Presence::Never:
        // Panels heard of, but never its presence: nothing says it is up.
        return s.lastSeenMs ? QStringLiteral("desatualizado") : QStringLiteral("nunca visto");
    case Site::Presence::Offline:
        return QStringLiteral("offline");
    case Site::Presence::Deaf:
        return QStringLiteral("sem leitura");
    case Site::Presence::Online:
        break;
    }
    return nowMs - s.lastSeenMs > m_staleMs ? QStringLiteral("desatualizado")
                                            : QStringLiteral("online");
}

bool Fleet::isOnline(const QString &site, qint64 nowMs) const
{
    const Site *s = this->site(site);
    return s && stateWord(*s, nowMs) == QLatin1String("online");
}

const Fleet::Site *Fleet::site(const QString &name) const
{
    const auto it = m_sites.constFind(name);
    return it == m_sites.cend() ? nullptr : &*it;
}

QString Fleet::worst(const Site &s)
{
    int worst = -1;
    for (const Panel &p : s.panels)
        worst = std::max<int>(worst, int(kRank.indexOf(p.state.value(QStringLiteral("resultado")).toString())));
    return worst < 0 ? QString() : kRank[worst];
}

QJsonObject Fleet::siteJson(const Site &s, qint64 nowMs) const
{
    QJsonArray panels;
    for (const Panel &p : s.panels)
        panels.append(QJsonObject{{QStringLiteral("painel"), p.name},
                                  {QStringLiteral("linha"), p.line},
                                  {QStringLiteral("tipo"), p.type},
                                  {QStringLiteral("largura"), p.width},
                                  {QStringLiteral("ultimo"),
                                   p.state.isEmpty() ? QJsonValue() : QJsonValue(p.state)}});
    return {{QStringLiteral("sitio"), s.name},
            {QStringLiteral("estado"), stateWord(s, nowMs)},
            {QStringLiteral("desde"), since(s.presenceSinceMs ? s.presenceSinceMs : s.lastSeenMs)},
            {QStringLiteral("visto_ha"),
             s.lastSeenMs ? QJsonValue(double((nowMs - s.lastSeenMs) / 1000)) : QJsonValue()},
            {QStringLiteral("pior"), worst(s)},
            {QStringLiteral("paineis"), panels}};
}

QJsonArray Fleet::sitesJson(qint64 nowMs, const std::function<bool(const QString &)> &allowed) const
{
    QList<const Site *> shown;
    for (const Site &s : m_sites)
        if (allowed(s.name)) shown.append(&s);
    // What needs someone first: offline, then the rest by name.
    const auto order = [&](const Site *s) {
        const QString w = stateWord(*s, nowMs);
        return w == QLatin1String("offline") ? 0 : w == QLatin1String("online") ? 3 : 1;
    };
    std::stable_sort(shown.begin(), shown.end(),
                     [&](const Site *a, const Site *b) { return order(a) < order(b); });
    QJsonArray out;
    for (const Site *s : shown) {
        QJsonObject o = siteJson(*s, nowMs);
        o.insert(QStringLiteral("paineis"), int(s->panels.size()));
        out.append(o);
    }
    return out;
}
