#include "headoffice.h"

#include "apianswer.h"
#include "cp1252.h"
#include "flatten.h"
#include "logging.h"
#include "mqttclient.h"
#include "mqttreasons.h"
#include "prometheus.h"
#include "serviceclock.h"
#include "simperiod.h"
#include "simwidth.h"
#include "statewriter.h"
#include "textcheck.h"
#include "threadhandoff.h"
#include "userstore.h"

#include <QFile>
#include <QJsonDocument>
#include <QUrlQuery>


namespace
{

constexpr int kPreviewsWaiting = 4;
constexpr int kUnacknowledgedKept = 64; // a topic's publications awaiting their PUBACK
constexpr qint64 kAuditMaxBytes = 8 * 1024 * 1024;
const QStringList kCommands = {QStringLiteral("para"), QStringLiteral("inicia"),
                               QStringLiteral("apaga"), QStringLiteral("hora"),
                               QStringLiteral("data")};

HttpResponse forbidden(const QString &why)
{
    return apianswer::error(403, why);
}

// A send as the audit keeps it, and back.
FleetSends::Send fromJson(const QJsonObject &o)
{
    const auto ms = [&](const char *key) {
        return QDateTime::fromString(o.value(QLatin1String(key)).toString(), Qt::ISODate)
            .toMSecsSinceEpoch();
    };
    FleetSends::Send s;
    s.id = o.value(QStringLiteral("id")).toString();
    s.who = o.value(QStringLiteral("quem")).toString();
    s.kind = o.value(QStringLiteral("tipo")).toString();
    s.value = o.value(QStringLiteral("valor")).toString();
    s.repeatOf = o.value(QStringLiteral("repete")).toString();
    s.notes = o.value(QStringLiteral("avisos")).toVariant().toStringList();
    s.whenMs = ms("quando");
    s.expiresMs = ms("expira");
    s.deadlineMs = ms("prazo");
    for (const QJsonValue &v : o.value(QStringLiteral("linhas")).toArray()) {
        const QJsonObject r = v.toObject();
        FleetSends::Row row;
        row.site = r.value(QStringLiteral("sitio")).toString();
        row.panel = r.value(QStringLiteral("painel")).toString();
        row.result = r.value(QStringLiteral("resultado")).toString();
        row.final = row.result != QLatin1String("aguardando");
        row.token = r.value(QStringLiteral("ficha")).toString().toLatin1();
        if (row.final) row.reason = r.value(QStringLiteral("motivo")).toString();
        row.waitingForSite = !row.final && r.value(QStringLiteral("motivo")).toString().startsWith(
                                               QLatin1String("aguardando o sítio"));
        s.open += !row.final;
        s.rows.append(row);
    }
    return s;
}

} // namespace

// The page lives in this static library's resources.
static void initPageResource()
{
    Q_INIT_RESOURCE(sede);
}

HeadOffice::HeadOffice(const ServerConfig &config, ServiceClock &clock, StateWriter &writer,
                       UserStore &users, std::unique_ptr<MqttLink> link, QObject *parent)
    : QObject(parent), m_config(config.sede), m_groups(config.groups), m_clock(clock),
      m_writer(writer), m_users(users), m_auditFile(config.sedeAuditFile),
      m_library(config.messagesFolder),
      m_link(link ? std::move(link) : std::make_unique<MqttClient>()),
      m_fleet([&] {
          QStringList expected = config.sede.sites;
          for (const QStringList &g : config.groups)
              expected += g;
          expected.removeDuplicates();
          return expected;
      }(), config.sede.staleSeconds * 1000),
      m_sends(
          config.sede.validitySeconds * 1000,
          [this](const QString &topic, const QByteArray &payload, const QByteArray &correlation,
                 qint64 expiry) {
              // A publication the library never sent gets no PUBACK: the
              // list keeps the newest few a topic, not everything ever sent.
              QList<QByteArray> &waiting = m_unacknowledged[topic];
              if (waiting.size() >= kUnacknowledgedKept) waiting.removeFirst();
              waiting.append(correlation);
              m_link->request({topic, payload, correlation, answerTopic(), expiry});
          },
          [this](const FleetSends::Send &s) { audit(s); })
{
    initPageResource();
    m_previewPool.setMaxThreadCount(2);
}

HeadOffice::~HeadOffice()
{
    stop();
    m_previewPool.waitForDone();
}

qint64 HeadOffice::now() const
{
    return m_clock.epochMs();
}

QString HeadOffice::answerTopic() const
{
    return QStringLiteral("letreiro-sede/%1/respostas").arg(m_config.name);
}

bool HeadOffice::start(QString *error)
{
    // The audit first: a send the head office made before its restart is
    // still to be answered (its session on the broker kept the answers).
    QFile f(m_auditFile);
    if (f.open(QIODevice::ReadOnly)) {
        QList<FleetSends::Send> sends;
        int damaged = 0;
        for (QByteArray line : f.read(kAuditMaxBytes).split('\n')) {
            line = line.trimmed();
            if (line.endsWith(',')) line.chop(1);
            if (line.isEmpty() || line == "[" || line == "]") continue;
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value(QStringLiteral("id")).toString().isEmpty())
                ++damaged;
            else
                sends.append(fromJson(o));
        }
        if (damaged)
            m_note = QStringLiteral("%1: %2 registros de envio ilegíveis foram deixados de lado")
                         .arg(m_auditFile)
                         .arg(damaged);
        m_sends.restore(sends);
        for (const FleetSends::Send &s : m_sends.sends())
            m_auditLines.insert(s.id, QJsonDocument(FleetSends::json(s, true, true))
                                          .toJson(QJsonDocument::Compact));
    }
    m_link->connected = [this](bool) {
        handoff::queue(this, [this] {
            m_linkUp = true;
            m_linkWhy.clear();
            m_linkSince = m_clock.now();
            qCInfo(lcSede, "conectado ao broker");
            // At every connection: a broker that restarted without its
            // sessions forgot them, and a kept one takes them again as they are.
            for (const char *filter :
                 {"letreiro/+/estado", "letreiro/+/paineis", "letreiro/+/+/estado"})
                m_link->subscribeFresh(QLatin1String(filter));
            m_link->subscribe(answerTopic());
        });
    };
    m_link->lost = [this](const MqttLink::Loss &loss) {
        handoff::queue(this, [this, loss] {
            const auto v = mqttreasons::ofLoss(loss.reason, loss.detail,
                                               QStringLiteral("%1:%2").arg(m_config.host).arg(m_config.port),
                                               !m_config.user.isEmpty());
            if (m_linkUp || v.words != m_linkWhy) {
                m_linkSince = m_clock.now();
                qCWarning(lcSede, "%s; tentando de novo", qUtf8Printable(v.words));
            }
            m_linkUp = false;
            m_linkWhy = v.words;
        });
    };
    m_link->received = [this](const MqttLink::Message &m) {
        handoff::queue(this, [this, m] { received(m); });
    };
    m_link->acknowledged = [this](const QString &topic, int reason) {
        handoff::queue(this, [this, topic, reason] {
            auto it = m_unacknowledged.find(topic);
            if (it == m_unacknowledged.end()) return;
            const QByteArray correlation = it->takeFirst();
            if (it->isEmpty()) m_unacknowledged.erase(it);
            if (reason >= 0x80)
                m_sends.refusedByBroker(correlation, QStringLiteral("o broker recusou a publicação: %1")
                                                         .arg(mqttreasons::refusal(reason)));
        });
    };
    m_link->subscribed = [this](const QString &filter, int reason) {
        if (reason < 0x80) return;
        handoff::queue(this, [this, filter, reason] {
            m_linkWhy = QStringLiteral("o broker recusou %1: %2")
                            .arg(logging::printable(filter), mqttreasons::refusal(reason));
            qCWarning(lcSede, "%s", qUtf8Printable(m_linkWhy));
        });
    };
    MqttLink::Settings s{QStringLiteral("letreiro-sede-") + m_config.name,
                         m_config.host, m_config.port, m_config.user, m_config.password,
                         m_config.caFile, m_config.certFile, m_config.keyFile,
                         // Answers to sends made before a restart wait on the broker.
                         qint64(m_config.validitySeconds + FleetSends::kAnswerGraceMs / 1000),
                         {}, {}};
    if (!m_link->start(s, error)) return false;
    m_linkWhy = QStringLiteral("conectando a %1:%2").arg(m_config.host).arg(m_config.port);
    m_linkSince = m_clock.now();
    armDeadlines();
    return true;
}

void HeadOffice::stop()
{
    if (!m_link) return;
    m_link->stop();
}

void HeadOffice::received(const MqttLink::Message &m)
{
    if (m.topic == answerTopic()) {
        m_sends.answer(m.correlation, m.payload);
        return;
    }
    m_fleet.take(m.topic, m.payload, m.retained, now());
}

void HeadOffice::armDeadlines()
{
    // A second's steps: a row says "sem resposta" at most a second late.
    if (m_armed) return;
    m_armed = true;
    m_clock.after(1000, this, [this] {
        m_armed = false;
        if (m_sends.expire(now())) armDeadlines();
    });
}

void HeadOffice::audit(const FleetSends::Send &changed)
{
    // Each send's line is made here, on the main thread, when it changes;
    // the writer's thread only joins lines that nobody changes any more
    // (a send's rows are written in place as answers come). One send a
    // line: a file cut short keeps every line before.
    m_auditLines.insert(changed.id, QJsonDocument(FleetSends::json(changed, true, true))
                                        .toJson(QJsonDocument::Compact));
    QList<QByteArray> lines;
    QHash<QString, QByteArray> kept;
    for (const FleetSends::Send &s : m_sends.sends()) {
        const QByteArray line = m_auditLines.value(s.id);
        kept.insert(s.id, line);
        lines.append(line);
    }
    m_auditLines = kept; // the sends let go of leave the file too
    m_writer.save(m_auditFile, [lines] {
        QByteArray out = "[\n";
        for (qsizetype i = 0; i < lines.size(); ++i)
            out += lines[i] + (i + 1 < lines.size() ? ",\n" : "\n");
        return out + "]\n";
    });
}

std::function<bool(const QString &)> HeadOffice::allowedFor(const QString &user) const
{
    const UserStore::Access a = m_users.access(user);
    if (a.sites.isEmpty()) return [](const QString &) { return true; };
    QSet<QString> sites;
    for (const QString &name : a.sites) {
        sites.insert(name);
        for (const QString &s : m_groups.value(name))
            sites.insert(s);
    }
    return [sites](const QString &site) { return sites.contains(site); };
}

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
            return reply(forbidden(QStringLiteral("%1 só pode consultar").arg(user)));
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
        return reply(forbidden(QStringLiteral("%1 só pode consultar").arg(user)));
    const auto allowed = allowedFor(user);
    // What: a text, a message of the head office's library (sent as the
    // text the panel would receive of it) or a command.
    QString kind = QStringLiteral("texto"), value;
    if (o->contains(QStringLiteral("comando"))) {
        kind = QStringLiteral("comando");
        value = o->value(QStringLiteral("comando")).toString();
        if (!kCommands.contains(value))
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
        return reply(refusal.startsWith(QLatin1String("sem acesso")) ? forbidden(refusal)
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

QByteArray HeadOffice::metrics() const
{
    PrometheusText m;
    const qint64 t = now();
    QHash<QString, int> byState, panels;
    m.family("letreiro_sede_sitio_online", "gauge", "1 quando o sítio está online (0: offline, nunca visto, desatualizado ou sem leitura).");
    QList<const Fleet::Site *> sites;
    for (const QString &name : m_fleet.siteNames()) {
        const Fleet::Site *s = m_fleet.site(name);
        sites.append(s);
        const QString w = m_fleet.stateWord(*s, t);
        ++byState[w];
        m.sample("letreiro_sede_sitio_online", {{"sitio", name}},
                 w == QLatin1String("online") ? 1 : 0);
        for (const Fleet::Panel &p : s->panels)
            ++panels[p.state.value(QStringLiteral("resultado")).toString(QStringLiteral("nenhum"))];
    }
    m.family("letreiro_sede_sitio_visto_segundos", "gauge", "Segundos desde a última notícia do sítio.");
    for (const Fleet::Site *s : std::as_const(sites))
        if (s->lastSeenMs) m.sample("letreiro_sede_sitio_visto_segundos", {{"sitio", s->name}}, double(t - s->lastSeenMs) / 1000);
    m.family("letreiro_sede_sitios", "gauge", "Sítios por estado.");
    for (const char *w : {"online", "offline", "nunca visto", "desatualizado", "sem leitura"})
        m.sample("letreiro_sede_sitios", {{"estado", QString::fromUtf8(w)}}, byState.value(QString::fromUtf8(w)));
    m.family("letreiro_sede_paineis", "gauge", "Painéis de todos os sítios pelo último resultado.");
    for (auto it = panels.cbegin(); it != panels.cend(); ++it)
        m.sample("letreiro_sede_paineis", {{"resultado", it.key()}}, it.value());
    m.family("letreiro_sede_envios_total", "counter", "Linhas de envios da sede terminadas desde o início, pelo resultado.");
    for (const char *w : {"enviado", "falhou", "substituído", "expirado", "recusado", "parando", "sem resposta"})
        m.sample("letreiro_sede_envios_total", {{"resultado", QString::fromUtf8(w)}},
                 double(m_sends.totals().value(QString::fromUtf8(w))));
    m.family("letreiro_sede_mqtt_conectado", "gauge", "1 quando a sede está ligada ao broker.");
    m.sample("letreiro_sede_mqtt_conectado", {}, m_linkUp ? 1 : 0);
    return m.text();
}
