#include "mqttbridge.h"

#include "letreiroservice.h"
#include "logging.h"
#include "messagefile.h"
#include "mqttdiscovery.h"
#include "serviceclock.h"
#include "threadhandoff.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QPointer>

#include <mqtt_protocol.h>

namespace
{
// As many requests as the lines' queues hold: what a start takes back.
constexpr int kWaitingPerLine = ServerConfig::kLineMaxWaiting;


QJsonObject readJson(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.read(1 << 20)).object()
                                       : QJsonObject();
}

void log(const QString &text)
{
    qCWarning(lcMqtt, "%s", qUtf8Printable(text));
}
} // namespace

MqttBridge::MqttBridge(const ServerConfig::Mqtt &config, LetreiroService &service,
                       std::unique_ptr<MqttLink> link, QObject *parent)
    : QObject(parent), m_config(config), m_service(service),
      m_journal(service.config().mqttJournalFile,
                int(service.config().lines.size()) * kWaitingPerLine +
                    int(service.config().panels.size())),
      m_link(link ? std::move(link) : std::make_unique<MqttClient>()), m_client(*m_link)
{
    const QString folder = QFileInfo(service.config().mqttJournalFile).absolutePath();
    m_appliedFile = folder + QStringLiteral("/mqtt-retidos.json");
    m_announcedFile = folder + QStringLiteral("/mqtt-descoberta.json");
    connect(&m_service, &LetreiroService::exchanged, this, &MqttBridge::exchanged);
}

MqttBridge::~MqttBridge()
{
    stop();
}

QString MqttBridge::topic(const QString &rest) const
{
    return QStringLiteral("letreiro/%1/%2").arg(m_config.site, rest);
}

bool MqttBridge::start(QString *error)
{
    QList<Entry> left;
    int damaged = 0;
    if (!m_journal.open(&left, &damaged, error)) return false;
    if (damaged)
        log(QStringLiteral("%1 registros ilegíveis no diário de mensagens; o resto foi mantido")
                .arg(damaged));
    const QJsonObject applied = readJson(m_appliedFile);
    for (auto it = applied.begin(); it != applied.end(); ++it)
        m_applied.insert(it.key(), it.value().toString());
    m_client.connected = [this](bool sessionPresent) {
        // Before the session's first message: a new session's packet ids
        // start over, so what was seen before says nothing any more.
        if (!sessionPresent) m_journal.newSession();
        for (const char *what : {"+/texto", "+/comando"})
            m_client.subscribe(topic(QString::fromLatin1(what)));
        handoff::queue(this, [this, sessionPresent] { connected(sessionPresent); });
    };
    m_client.lost = [this](int reason, const QString &why) {
        const QString text =
            reason == MQTT_RC_SESSION_TAKEN_OVER
                ? QStringLiteral("outro serviço está usando o sítio %1").arg(m_config.site)
                : QStringLiteral("%1:%2: %3 (%4); tentando de novo")
                      .arg(m_config.host)
                      .arg(m_config.port)
                      .arg(why)
                      .arg(reason);
        handoff::queue(this, [text] { log(text); });
    };
    m_client.received = [this](const MqttClient::Message &m) {
        // Written before the acknowledged message is let go of.
        const auto e = m_journal.add(m, m_service.clock().now().toMSecsSinceEpoch(), m_config.maxAgeSeconds * 1000);
        if (e) handoff::queue(this, [this, e] { take(*e, false); });
    };
    MqttLink::Settings s{QStringLiteral("letreiro-") + m_config.site,
                           m_config.host,
                           m_config.port,
                           m_config.user,
                           m_config.password,
                           m_config.caFile,
                           m_config.sessionSeconds,
                           topic(QStringLiteral("estado")),
                           "offline"};
    if (!m_client.start(s, error)) return false;
    // Answers given now wait in the library for the connection.
    for (const Entry &e : left)
        take(e, true);
    return true;
}

void MqttBridge::stop()
{
    if (m_stopped) return;
    m_stopped = true;
    // A goodbye the broker was told of sends no last will: the presence is
    // set here.
    m_client.publish(topic(QStringLiteral("estado")), "offline", true);
    m_client.stop();
    m_journal.sync();
}

void MqttBridge::connected(bool sessionPresent)
{
    log(sessionPresent ? QStringLiteral("conectado; a sessão foi mantida")
                       : QStringLiteral("conectado; sessão nova"));
    m_client.publish(topic(QStringLiteral("estado")), "online", true);
    // A broker that kept nothing (restarted without persistence) has lost
    // the retained states and configs as well.
    if (sessionPresent && m_announced) return;
    publishStates();
    announce();
}

void MqttBridge::take(const Entry &e, bool again)
{
    const QStringList parts = e.message.topic.split(u'/');
    const QString panel = parts.value(2), kind = parts.value(3);
    const bool text = kind == QLatin1String("texto");
    const auto refuse = [&](const QString &why) {
        // The topic and what it carried came from outside: made printable.
        log(QStringLiteral("%1: %2").arg(logging::printable(e.message.topic), why));
        finish(e, SendResult::refused(SendResult::Refusal::Invalid, why));
    };
    if (e.message.oversized) return refuse(QStringLiteral("conteúdo maior que 64 KB"));
    if (parts.size() != 4 || (!text && kind != QLatin1String("comando")))
        return refuse(QStringLiteral("tópico desconhecido"));
    if (e.message.retained && !text)
        return refuse(QStringLiteral("comando retido não é executado"));
    if (e.expiresMs && m_service.clock().now().toMSecsSinceEpoch() >= e.expiresMs) {
        SendResult expired;
        expired.end = SendEnd::Expired;
        expired.reason = QStringLiteral("validade vencida");
        return finish(e, expired);
    }
    if (e.message.retained && !again && appliedBefore(e)) return m_journal.finish(e.id);
    // Empty and retained, it only takes the retained text away (above).
    if (text && e.message.payload.isEmpty() && e.message.retained) return m_journal.finish(e.id);
    SendRequest request;
    request.kind = text ? SendRequest::Kind::Text : SendRequest::Kind::Command;
    // "todos": every panel of the site; anything else names one.
    if (panel != QLatin1String("todos")) request.panels = QStringList{panel};
    const QString value = QString::fromUtf8(e.message.payload);
    request.value = text ? value : value.trimmed();
    request.who = QStringLiteral("mqtt");
    request.strict = m_config.strict;
    // The expiry holds until the frame starts: the line's queue answers
    // Expired for a job whose deadline passed while it waited.
    if (e.expiresMs)
        request.deadlineMs =
            m_service.clock().monotonicMs() + std::max<qint64>(1, e.expiresMs - m_service.clock().now().toMSecsSinceEpoch());
    m_service.send(std::move(request), [self = QPointer<MqttBridge>(this), e](const SendResult &r) {
        // One a stop left undone stays in the journal for the next start.
        if (!self || r.interrupted() || r.end == SendEnd::Stopping) return;
        if (r.end == SendEnd::Refused && r.refusal != SendResult::Refusal::Full)
            log(QStringLiteral("%1: %2").arg(logging::printable(e.message.topic),
                                             logging::printable(r.reason)));
        self->finish(e, r);
    });
}

bool MqttBridge::appliedBefore(const Entry &e)
{
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(e.message.payload, QCryptographicHash::Sha256).toHex());
    if (m_applied.value(e.message.topic) == hash) return true;
    // An empty retained payload only takes the retained text away.
    if (e.message.payload.isEmpty())
        m_applied.remove(e.message.topic);
    else
        m_applied.insert(e.message.topic, hash);
    QJsonObject all;
    for (auto it = m_applied.cbegin(); it != m_applied.cend(); ++it)
        all.insert(it.key(), it.value());
    messagefile::saveFile(m_appliedFile, QJsonDocument(all).toJson(QJsonDocument::Compact));
    return e.message.payload.isEmpty();
}

void MqttBridge::finish(const Entry &e, const SendResult &r)
{
    m_journal.finish(e.id);
    if (e.message.responseTopic.isEmpty()) return;
    m_client.publish(e.message.responseTopic,
                     QJsonDocument(r.json()).toJson(QJsonDocument::Compact), false,
                     e.message.correlation);
}

void MqttBridge::exchanged(const QString &panel, bool ok, const QString &outcome,
                           const QString &text)
{
    const QDateTime now = m_service.clock().now();
    const QJsonObject state{{QStringLiteral("ok"), ok},
                            {QStringLiteral("resultado"), outcome},
                            {QStringLiteral("quando"), isoWithOffset(now)},
                            {QStringLiteral("texto"), text}};
    const QByteArray payload = QJsonDocument(state).toJson(QJsonDocument::Compact);
    m_states.insert(panel, payload);
    m_client.publish(topic(panel + QStringLiteral("/estado")), payload, true);
}

void MqttBridge::publishStates()
{
    for (auto it = m_states.cbegin(); it != m_states.cend(); ++it)
        m_client.publish(topic(it.key() + QStringLiteral("/estado")), it.value(), true);
}

void MqttBridge::announce()
{
    const auto configs = m_config.discovery
                             ? mqttdiscovery::configs(m_config.site, m_service.config().panels)
                             : QList<QPair<QString, QByteArray>>();
    QJsonArray topics;
    for (const auto &[t, payload] : configs) {
        m_client.publish(t, payload, true);
        topics.append(t);
    }
    if (m_announced) return;
    m_announced = true;
    // Configs announced by an earlier start for panels gone since: an empty
    // retained payload takes their entities out of Home Assistant.
    for (const QJsonValue &t : readJson(m_announcedFile).value(QStringLiteral("topicos")).toArray())
        if (!topics.contains(t)) m_client.publish(t.toString(), {}, true);
    messagefile::saveFile(m_announcedFile,
                          QJsonDocument(QJsonObject{{QStringLiteral("topicos"), topics}})
                              .toJson(QJsonDocument::Compact));
}
