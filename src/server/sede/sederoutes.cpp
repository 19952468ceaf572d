// The head office's API under /api/sede/, behind the service's login: the
// sites, the previews, the sends and their rows, each within what the user
// may reach.
#include "apianswer.h"
#include "cp1252.h"
#include "flatten.h"
#include "headoffice.h"
#include "logging.h"
#include "schedule.h"
#include "serviceclock.h"
#include "simperiod.h"
#include "simwidth.h"
#include "textcheck.h"
#include "threadhandoff.h"
#include "userstore.h"

#include <QUrlQuery>

namespace
{
// Previews waiting for a thread at once; beyond, the next is refused.
constexpr int kPreviewsWaiting = 4;
} // namespace

void HeadOffice::serveOn(HttpApi &api)
{
    api.addDoor(QStringLiteral("sede"),
                [this](const HttpRequest &req, const QStringList &path, const QString &user,
                       const HttpApi::Reply &reply) { route(req, path, user, reply); });
    api.addMetrics([this] { return metrics(); });
}

void HeadOffice::route(const HttpRequest &req, const QStringList &path, const QString &user,
                       const HttpApi::Reply &reply)
{
    const auto allowed = allowedFor(user);
    const bool get = req.method == "GET";
    const QString first = path.value(0);
    const int n = int(path.size());
    if (n == 1 && first == QLatin1String("sitios") && get) {
        const UserStore::Access a = m_users.access(user);
        QJsonArray groups;
        for (auto g = m_groups.cbegin(); g != m_groups.cend(); ++g)
            if (std::all_of(g.value().cbegin(), g.value().cend(), allowed))
                groups.append(QJsonObject{{QStringLiteral("grupo"), g.key()},
                                          {QStringLiteral("sitios"), QJsonArray::fromStringList(g.value())}});
        return reply(apianswer::json(QJsonObject{
            {QStringLiteral("sitios"), m_fleet.sitesJson(now(), allowed)},
            {QStringLiteral("grupos"), groups},
            {QStringLiteral("leitura"), a.readOnly},
            {QStringLiteral("mqtt"),
             QJsonObject{{QStringLiteral("estado"), m_linkUp ? QStringLiteral("conectado")
                                                             : QStringLiteral("reconectando")},
                         {QStringLiteral("motivo"), m_linkWhy},
                         {QStringLiteral("desde"), isoWithOffset(m_linkSince)}}},
            {QStringLiteral("validade"), m_config.validitySeconds}}));
    }
    if (n == 2 && first == QLatin1String("sitios") && get) {
        const Fleet::Site *s = m_fleet.site(path[1]);
        if (!s || !allowed(path[1]))
            return reply(apianswer::error(404, QStringLiteral("sítio desconhecido: %1").arg(path[1])));
        return reply(apianswer::json(m_fleet.siteJson(*s, now())));
    }
    if (n == 1 && first == QLatin1String("previa") && get) return preview(req, allowed, reply);
    if (n == 1 && first == QLatin1String("previa") && req.method == "POST") {
        // The warnings a text gets on each panel type, before the send.
        const auto o = apianswer::object(req.body);
        if (!o) return reply(apianswer::error(400, QStringLiteral("JSON inválido")));
        QJsonObject byType;
        for (const QJsonValue &t : o->value(QStringLiteral("tipos")).toArray())
            if (t.toInt() >= 0 && t.toInt() <= 8)
                byType.insert(QString::number(t.toInt()),
                              textcheck::received(o->value(QStringLiteral("texto")).toString(), t.toInt()));
        return reply(apianswer::json(byType));
    }
    if (n == 1 && first == QLatin1String("envios") && req.method == "POST")
        return startSend(req, user, reply);
    if (n == 1 && first == QLatin1String("envios") && get) {
        // Newest first; a user limited to some sites sees the sends that
        // reached only those.
        QJsonArray out;
        for (auto it = m_sends.sends().crbegin(); it != m_sends.sends().crend(); ++it)
            if (std::all_of(it->rows.cbegin(), it->rows.cend(),
                            [&](const FleetSends::Row &r) { return allowed(r.site); }))
                out.append(FleetSends::json(*it, req.target.contains("linhas=1")));
        return reply(apianswer::json(out));
    }
    const FleetSends::Send *s = n >= 2 && first == QLatin1String("envios") ? m_sends.send(path[1]) : nullptr;
    if (s && !std::all_of(s->rows.cbegin(), s->rows.cend(),
                          [&](const FleetSends::Row &r) { return allowed(r.site); }))
        s = nullptr;
    if (n == 2 && s && get) return reply(apianswer::json(FleetSends::json(*s)));
    if (n == 3 && s && path[2] == QLatin1String("repetir") && req.method == "POST") {
        if (m_users.access(user).readOnly)
            return reply(apianswer::error(403, QStringLiteral("%1 só pode consultar").arg(user)));
        QString why;
        const QString id = m_sends.repeat(
            s->id, user, now(), [this](const QString &site) { return m_fleet.isOnline(site, now()); },
            &why);
        if (id.isEmpty()) return reply(apianswer::error(409, why));
        armDeadlines();
        return reply(apianswer::json(FleetSends::json(*m_sends.send(id)), 202));
    }
    if (n >= 2 && first == QLatin1String("envios"))
        return reply(apianswer::error(404, QStringLiteral("envio desconhecido: %1").arg(path[1])));
    reply(apianswer::error(404, QStringLiteral("não encontrado")));
}

void HeadOffice::startSend(const HttpRequest &req, const QString &user, const HttpApi::Reply &reply)
{
    const auto o = apianswer::object(req.body);
    if (!o) return reply(apianswer::error(400, QStringLiteral("JSON inválido")));
    if (m_users.access(user).readOnly)
        return reply(apianswer::error(403, QStringLiteral("%1 só pode consultar").arg(user)));
    const auto allowed = allowedFor(user);
    // What: a text, a message of the head office's library (sent as the
    // text the panel would receive of it) or a command.
    QString kind = QStringLiteral("texto"), value;
    if (o->contains(QStringLiteral("comando"))) {
        kind = QStringLiteral("comando");
        value = o->value(QStringLiteral("comando")).toString();
        if (!panelCommand(value)) // the one table of every door
            return reply(apianswer::error(400, QStringLiteral("comando desconhecido: %1").arg(value)));
    } else if (o->contains(QStringLiteral("mensagem"))) {
        const Result<RichText> m = m_library.message(o->value(QStringLiteral("mensagem")).toString());
        if (!m) return reply(apianswer::failure(m.failure()));
        value = cp1252::decode(flattenMessage(*m));
    } else {
        value = o->value(QStringLiteral("texto")).toString();
    }
    if (value.isEmpty()) return reply(apianswer::error(400, QStringLiteral("texto vazio")));
    if (value.toUtf8().size() > MqttLink::kMaxPayload)
        return reply(apianswer::error(413, QStringLiteral("texto grande demais")));
    QStringList notes;
    QString refusal;
    const QList<FleetSends::Target> targets = targetsOf(*o, allowed, &notes, &refusal);
    if (!refusal.isEmpty())
        return reply(refusal.startsWith(QLatin1String("sem acesso")) ? apianswer::error(403, refusal)
                                                                    : apianswer::error(400, refusal));
    QString why;
    const QString id = m_sends.start(user, kind, value, targets, now(), &why, {}, notes);
    if (id.isEmpty()) return reply(apianswer::error(targets.isEmpty() ? 400 : 503, why));
    qCInfo(lcSede, "envio %s de %s: %lld painéis", qUtf8Printable(id),
           qUtf8Printable(logging::printable(user, 64)), qlonglong(targets.size()));
    armDeadlines();
    reply(apianswer::json(FleetSends::json(*m_sends.send(id)), 202));
}

QList<FleetSends::Target> HeadOffice::targetsOf(const QJsonObject &o,
                                                const std::function<bool(const QString &)> &allowed,
                                                QStringList *notes, QString *refusal) const
{
    // The rows by hand, or sites (all, a group, a list) × panels (by name,
    // or all of each site).
    QList<FleetSends::Target> targets;
    QStringList outOfReach, unknown;
    const auto add = [&](const QString &site, const QString &panel) {
        if (!allowed(site)) return outOfReach.append(site);
        if (!m_fleet.site(site)) return unknown.append(site);
        for (const FleetSends::Target &t : std::as_const(targets))
            if (t.site == site && t.panel == panel) return;
        targets.append({site, panel, m_fleet.isOnline(site, now())});
    };
    if (o.contains(QStringLiteral("alvos"))) {
        for (const QJsonValue &v : o.value(QStringLiteral("alvos")).toArray())
            add(v.toObject().value(QStringLiteral("sitio")).toString(),
                v.toObject().value(QStringLiteral("painel")).toString());
    } else {
        QStringList sites;
        if (o.contains(QStringLiteral("grupo"))) {
            const QString g = o.value(QStringLiteral("grupo")).toString();
            if (!m_groups.contains(g)) {
                *refusal = QStringLiteral("grupo desconhecido: %1").arg(g);
                return {};
            }
            sites = m_groups.value(g);
        } else if (o.value(QStringLiteral("sitios")).isArray()) {
            sites = o.value(QStringLiteral("sitios")).toVariant().toStringList();
        } else {
            for (const QString &site : m_fleet.siteNames())
                if (allowed(site)) sites.append(site);
        }
        const QStringList names = o.value(QStringLiteral("paineis")).toVariant().toStringList();
        for (const QString &site : std::as_const(sites)) {
            const Fleet::Site *known = m_fleet.site(site);
            // A site whose panels are known gets the names it has; one never
            // heard from gets them all, to wait for it.
            const bool listed = known && !known->panels.isEmpty();
            const auto has = [&](const QString &p) {
                return !listed || std::any_of(known->panels.cbegin(), known->panels.cend(),
                                              [&](const Fleet::Panel &kp) { return kp.name == p; });
            };
            for (const QString &p : names)
                if (has(p)) add(site, p);
            for (const Fleet::Panel &p : names.isEmpty() && listed ? known->panels : QList<Fleet::Panel>())
                add(site, p.name);
            if (!allowed(site))
                outOfReach.append(site);
            else if (!known)
                unknown.append(site);
            else if (names.isEmpty() && !listed)
                notes->append(QStringLiteral("%1: painéis ainda desconhecidos, nada enviado").arg(site));
        }
    }
    outOfReach.removeDuplicates();
    unknown.removeDuplicates();
    if (!outOfReach.isEmpty())
        *refusal = QStringLiteral("sem acesso a: %1").arg(outOfReach.join(QStringLiteral(", ")));
    else if (!unknown.isEmpty())
        *refusal = QStringLiteral("sítio desconhecido: %1").arg(unknown.join(QStringLiteral(", ")));
    for (const FleetSends::Target &t : std::as_const(targets))
        for (const QString &name : {t.site, t.panel})
            if (name.isEmpty() || name.contains(u'/') || name.contains(u'+') || name.contains(u'#'))
                *refusal = QStringLiteral("sítio ou painel inválido");
    return targets;
}

void HeadOffice::preview(const HttpRequest &req, const std::function<bool(const QString &)> &allowed,
                         const HttpApi::Reply &reply)
{
    // What a panel shows now: its last text, played for its type and width.
    const QUrlQuery q(QString::fromUtf8(req.target.mid(req.target.indexOf('?') + 1)));
    const QString siteName = q.queryItemValue(QStringLiteral("sitio"), QUrl::FullyDecoded);
    const QString panelName = q.queryItemValue(QStringLiteral("painel"), QUrl::FullyDecoded);
    const Fleet::Site *site = allowed(siteName) ? m_fleet.site(siteName) : nullptr;
    const Fleet::Panel *panel = nullptr;
    for (const Fleet::Panel &p : site ? site->panels : QList<Fleet::Panel>())
        if (p.name == panelName) panel = &p;
    if (!panel) return reply(apianswer::error(404, QStringLiteral("painel desconhecido")));
    const int width = panel->width ? panel->width : simwidth::forPanelType(panel->type);
    if (!simwidth::isSupported(width))
        return reply(apianswer::error(404, QStringLiteral("este tipo de painel não tem simulação")));
    if (m_previewsInHand >= m_previewPool.maxThreadCount() + kPreviewsWaiting)
        return reply(apianswer::busy());
    ++m_previewsInHand;
    const RichText shown =
        textcheck::shown(panel->state.value(QStringLiteral("texto")).toString(), panel->type);
    const QDateTime t = m_clock.now();
    handoff::start(&m_previewPool, [this, shown, width, reply, t = t.toOffsetFromUtc(t.offsetFromUtc())] {
        const HttpResponse answer =
            apianswer::bytes(messageAnimation(shown, width, 30000, t, 20000), "image/svg+xml");
        handoff::queue(this, [this] { --m_previewsInHand; });
        reply(answer);
    });
}
