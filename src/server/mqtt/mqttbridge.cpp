#include "mqttbridge.h"

#include "letreiroservice.h"
#include "logging.h"
#include "mqttreasons.h"
#include "randombits.h"
#include "serviceclock.h"
#include "threadhandoff.h"
#include "wholefile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

#include <mqtt_protocol.h>

namespace
{
// As many requests as the lines' queues hold: what a start takes back.
constexpr int kWaitingPerLine = ServerConfig::kLineMaxWaiting;
// Topics and reasons logged once each; beyond this many, once again.
constexpr int kRefusalsRemembered = 1000;

QJsonValue isoOrNull(const QDateTime &t)
{
    return t.isValid() ? QJsonValue(isoWithOffset(t)) : QJsonValue();
}

// MQTT's own matching: "+" one level, "#" the rest.
bool matches(const QString &filter, const QString &topic)
{
    const QStringList f = filter.split(u'/'), t = topic.split(u'/');
    for (qsizetype i = 0; i < f.size(); ++i) {
        if (f[i] == QLatin1String("#")) return true;
        if (i >= t.size() || (f[i] != QLatin1String("+") && f[i] != t[i])) return false;
    }
    return f.size() == t.size();
}
} // namespace

MqttBridge::MqttBridge(const ServerConfig::Mqtt &config, LetreiroService &service,
                       std::unique_ptr<MqttLink> link, QObject *parent)
    : QObject(parent), m_config(config), m_service(service),
      m_journal(service.config().mqttJournalFile,
                int(service.config().lines.size()) * kWaitingPerLine +
                    int(service.config().panels.size())),
      m_link(link ? std::move(link) : std::make_unique<MqttClient>()), m_client(*m_link),
      m_instance(randomHex256())
{
    const QString folder = QFileInfo(service.config().mqttJournalFile).absolutePath();
    m_appliedFile = folder + QStringLiteral("/mqtt-retidos.json");
    m_announcedFile = folder + QStringLiteral("/mqtt-descoberta.json");
    connect(&m_service, &LetreiroService::exchanged, this, &MqttBridge::exchanged);
    const QPointer<MqttBridge> self(this);
    m_service.addState(QStringLiteral("mqtt"),
                       [self] { return self ? QJsonValue(self->linkJson()) : QJsonValue(); });
    m_service.addWarnings([self] { return self ? self->warnings() : QStringList(); });
}

MqttBridge::~MqttBridge()
{
    stop();
}

void MqttBridge::log(const QString &text)
{
    qCWarning(lcMqtt, "%s", qUtf8Printable(text));
}

QString MqttBridge::topic(const QString &rest) const
{
    return QStringLiteral("letreiro/%1/%2").arg(m_config.site, rest);
}

QStringList MqttBridge::filters() const
{
    return {topic(QStringLiteral("+/texto")), topic(QStringLiteral("+/comando")),
            topic(QStringLiteral("sonda")), topic(QStringLiteral("dono"))};
}

bool MqttBridge::readsTopic(const QString &t) const
{
    for (const QString &f : filters())
        if (matches(f, t)) return true;
    return false;
}

QJsonObject MqttBridge::readState(const QString &path)
{
    QFile f(path);
    if (!f.exists()) return {};
    QJsonParseError e{};
    const QJsonDocument d = f.open(QIODevice::ReadOnly)
                                ? QJsonDocument::fromJson(f.read(1 << 20), &e)
                                : QJsonDocument();
    if (f.isOpen() && e.error == QJsonParseError::NoError && d.isObject()) return d.object();
    m_service.startNote(wholefile::setAside(
        path, f.isOpen() ? QStringLiteral("conteúdo danificado") : f.errorString()));
    return {};
}

bool MqttBridge::start(QString *error)
{
    const QString journal = m_service.config().mqttJournalFile;
    const QString aside = journal + QStringLiteral(".ilegivel");
    QList<Entry> left;
    int damaged = 0;
    QFile readable(journal);
    if (!QFileInfo::exists(aside) && readable.exists() &&
        (!QFileInfo(journal).isFile() || !readable.open(QIODevice::ReadOnly)))
        m_service.startNote(wholefile::setAside(
            journal, QFileInfo(journal).isFile() ? readable.errorString()
                                                 : QStringLiteral("não é um arquivo")));
    readable.close();
    if (QFileInfo::exists(aside)) {
        // Taking new texts would run again, or lose, those it holds.
        m_blocked = QStringLiteral("o diário de mensagens MQTT não pôde ser lido (está em %1): "
                                   "o serviço não recebe mensagens do broker até que alguém o "
                                   "examine, o apague ou mova e reinicie o serviço")
                        .arg(aside);
        log(m_blocked);
        setLink(Link::Off, m_blocked, 0);
        return true;
    }
    if (!m_journal.open(&left, &damaged, error)) return false;
    if (damaged)
        log(QStringLiteral("%1 registros ilegíveis no diário de mensagens; o resto foi mantido")
                .arg(damaged));
    const QJsonObject applied = readState(m_appliedFile);
    for (auto it = applied.begin(); it != applied.end(); ++it)
        m_applied.insert(it.key(), it.value().toString());
    for (const QJsonValue &t : readState(m_announcedFile).value(QStringLiteral("topicos")).toArray())
        m_announcedTopics.insert(t.toString());
    const QStringList subscriptions = filters();
    m_client.connected = [this, subscriptions](bool sessionPresent) {
        // Before the session's first message: a new session's packet ids
        // start over, so what was seen before says nothing any more.
        if (!sessionPresent) m_journal.newSession();
        for (const QString &f : subscriptions)
            m_client.subscribe(f, f.endsWith(QLatin1String("/dono")));
        handoff::queue(this, [this, sessionPresent] { connected(sessionPresent); });
    };
    m_client.lost = [this](const MqttLink::Loss &loss) {
        handoff::queue(this, [this, loss] { lost(loss); });
    };
    const QString probe = topic(QStringLiteral("sonda")), owner = topic(QStringLiteral("dono"));
    m_client.received = [this, probe, owner](const MqttClient::Message &m) {
        if (m.topic == probe || m.topic == owner)
            return handoff::queue(this, [this, m] { own(m); });
        // Written before the acknowledged message is let go of.
        const auto e = m_journal.add(m, m_service.clock().epochMs(),
                                     m_config.maxAgeSeconds * 1000);
        if (e) handoff::queue(this, [this, e] { take(*e, false); });
    };
    m_client.acknowledged = [this](const QString &t, int reason) {
        handoff::queue(this, [this, t, reason] { acknowledged(t, reason); });
    };
    m_client.subscribed = [this](const QString &f, int reason) {
        handoff::queue(this, [this, f, reason] { subscribed(f, reason); });
    };
    MqttLink::Settings s{QStringLiteral("letreiro-") + m_config.site,
                         m_config.host,
                         m_config.port,
                         m_config.user,
                         m_config.password,
                         m_config.caFile,
                         m_config.certFile,
                         m_config.keyFile,
                         m_config.sessionSeconds,
                         topic(QStringLiteral("estado")),
                         "offline"};
    if (!m_client.start(s, error)) return false;
    setLink(Link::Reconnecting, QStringLiteral("conectando a %1:%2").arg(m_config.host).arg(m_config.port), 0);
    heartbeat();
    // Answers given now wait in the library for the connection; one given
    // before a kill goes again, without its message running again.
    for (const Entry &e : left) {
        if (e.answer.isEmpty())
            take(e, true);
        else
            publishAnswer(e);
    }
    return true;
}

void MqttBridge::stop()
{
    if (m_stopped) return;
    m_stopped = true;
    if (!m_blocked.isEmpty()) return;
    // A goodbye the broker was told of sends no last will: the presence is
    // set here.
    m_client.publish(topic(QStringLiteral("estado")), "offline", true);
    m_client.stop();
    m_journal.sync();
    setLink(Link::Off, {}, 0);
}

void MqttBridge::setLink(Link state, const QString &why, qint64 retryMs)
{
    if (state != m_linkState || why != m_why) m_since = m_service.clock().now();
    m_linkState = state;
    m_why = why;
    m_nextTry = retryMs > 0 ? m_service.clock().now().addMSecs(retryMs) : QDateTime();
}

QJsonObject MqttBridge::linkJson() const
{
    static const char *const words[] = {"desligado", "conectado", "reconectando", "recusado"};
    return {{QStringLiteral("estado"), QLatin1String(words[int(m_linkState)])},
            {QStringLiteral("desde"), isoOrNull(m_since)},
            {QStringLiteral("motivo"), m_why.isEmpty() ? QJsonValue() : QJsonValue(m_why)},
            {QStringLiteral("proxima_tentativa"), isoOrNull(m_nextTry)}};
}

QStringList MqttBridge::warnings() const
{
    QStringList out;
    if (!m_blocked.isEmpty()) out.append(m_blocked);
    if ((m_linkState == Link::Reconnecting || m_linkState == Link::Refused) && !m_logged.isEmpty())
        out.append(QStringLiteral("MQTT: %1").arg(m_why));
    if (m_deaf)
        out.append(QStringLiteral(
            "o broker não entrega ao serviço as mensagens do sítio (permissão de leitura?)"));
    out += m_refusals.values();
    if (const QString journal = m_journal.failure(); !journal.isEmpty()) out.append(journal);
    return out;
}

void MqttBridge::connected(bool sessionPresent)
{
    log(sessionPresent ? QStringLiteral("conectado; a sessão foi mantida")
                       : QStringLiteral("conectado; sessão nova"));
    m_logged.clear();
    m_ownerSeen.clear();
    setLink(Link::Connected, {}, 0);
    // The presence says "online" once the broker delivers to the service:
    // a user that may not read its topics is granted them all the same.
    const QByteArray probe = m_instance + '.' + randomBytes(6).toHex();
    m_probe = probe;
    m_client.publish(topic(QStringLiteral("sonda")), probe, false);
    m_service.clock().after(kProbeTimeoutMs, this, [this, probe] {
        if (m_probe != probe || m_deaf) return;
        m_deaf = true;
        log(QStringLiteral(
            "o broker não entrega ao serviço as mensagens do sítio (permissão de leitura?)"));
        m_client.publish(topic(QStringLiteral("estado")), "sem leitura", true);
    });
    // A broker that kept nothing (restarted without persistence) has lost
    // the retained states and configs as well.
    if (sessionPresent && m_announced) return;
    publishStates();
    announce();
}

void MqttBridge::lost(const MqttLink::Loss &loss)
{
    m_probe.clear();
    const QString where = QStringLiteral("%1:%2").arg(m_config.host).arg(m_config.port);
    const auto verdict =
        loss.reason == MQTT_RC_SESSION_TAKEN_OVER
            ? mqttreasons::Verdict{QStringLiteral("outro serviço está usando o sítio %1")
                                       .arg(m_config.site),
                                   true}
            : mqttreasons::ofLoss(loss.reason, loss.detail, where,
                                                !m_config.user.isEmpty());
    setLink(verdict.refused ? Link::Refused : Link::Reconnecting, verdict.words, loss.retryMs);
    // Once, then on change only: a broker away for an hour is one line.
    if (verdict.words == m_logged) return;
    m_logged = verdict.words;
    log(QStringLiteral("%1; tentando de novo").arg(verdict.words));
}

void MqttBridge::own(const MqttLink::Message &m)
{
    if (m.topic.endsWith(QLatin1String("/sonda"))) {
        if (m.payload != m_probe) return; // another start's, or an earlier connection's
        m_probe.clear();
        if (m_deaf) {
            m_deaf = false;
            log(QStringLiteral("o broker voltou a entregar ao serviço as mensagens do sítio"));
        }
        m_client.publish(topic(QStringLiteral("estado")), "online", true);
        publishPanels();
        // Any retained owner record came before the probe: it is known now.
        if (m_ownerSeen != m_instance) {
            m_claimed = true;
            m_client.publish(topic(QStringLiteral("dono")), m_instance, true);
        }
        return;
    }
    m_ownerSeen = m.payload;
    // Someone else's id over ours: only another service writes there.
    if (m.payload != m_instance && m_claimed && !m.payload.isEmpty()) takenOver();
}

void MqttBridge::takenOver()
{
    m_probe.clear();
    // Claimed again at the next connection: a service gone for good leaves
    // its record behind.
    m_claimed = false;
    const QString why =
        QStringLiteral("outro serviço está usando o sítio %1").arg(m_config.site);
    setLink(Link::Refused, why, MqttClient::kTakenOverDelayS * 1000LL);
    if (m_logged != why) log(why);
    m_logged = why;
    m_client.yieldFor(MqttClient::kTakenOverDelayS);
}

void MqttBridge::acknowledged(const QString &t, int reason)
{
    const bool refused = reason >= 0x80;
    if (m_announcing.contains(t)) {
        const bool removal = m_announcing.take(t);
        if (!refused) {
            removal ? void(m_announcedTopics.remove(t)) : void(m_announcedTopics.insert(t));
            saveAnnounced();
        }
    }
    if (!refused) {
        m_refusals.remove(t);
        return;
    }
    const QString text = QStringLiteral("o broker recusou a publicação em %1: %2")
                             .arg(logging::printable(t), mqttreasons::refusal(reason));
    if (m_refusals.size() < kRefusalsShown || m_refusals.contains(t)) m_refusals.insert(t, text);
    const QString key = t + u'\n' + QString::number(reason);
    if (m_refusalsLogged.contains(key)) return;
    if (m_refusalsLogged.size() >= kRefusalsRemembered) m_refusalsLogged.clear();
    m_refusalsLogged.insert(key);
    log(text);
}

void MqttBridge::subscribed(const QString &filter, int reason)
{
    if (reason < 0x80) {
        m_refusals.remove(filter);
        return;
    }
    const QString text = QStringLiteral("o broker recusou a assinatura de %1: %2")
                             .arg(filter, mqttreasons::refusal(reason));
    if (m_refusals.value(filter) != text) log(text);
    m_refusals.insert(filter, text);
}
