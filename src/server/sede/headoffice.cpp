#include "headoffice.h"

#include "apianswer.h"
#include "logging.h"
#include "mqttclient.h"
#include "mqttreasons.h"
#include "prometheus.h"
#include "serviceclock.h"
#include "statewriter.h"
#include "threadhandoff.h"
#include "userstore.h"

#include <QFile>
#include <QJsonDocument>


namespace
{

constexpr int kUnacknowledgedKept = 64; // a topic's publications awaiting their PUBACK
constexpr qint64 kAuditMaxBytes = 8 * 1024 * 1024;

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
                                               QStringLiteral("aguardando o sítio"));
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
                                               !m_config.user.isEmpty(), QStringLiteral("sede"));
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
