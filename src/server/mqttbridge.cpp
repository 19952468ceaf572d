#include "mqttbridge.h"

#include "letreiroservice.h"
#include "statewriter.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QPointer>

#include <mosquitto.h>

#include <cerrno>
#include <cstring>

namespace
{
constexpr int kKeepAliveS = 30;
constexpr int kQos = 1;
constexpr int kMaxPayload = 64 * 1024; // a text longer than this is no panel's
constexpr size_t kRemembered = 1024;

QByteArray utf8(const QString &s)
{
    return s.toUtf8();
}

// Home Assistant wants ids of letters, digits, "_" and "-".
QString entityId(const QString &s)
{
    QString out;
    for (const QChar c : s)
        out += (c.isLetterOrNumber() && c.unicode() < 128) || c == u'-' ? c : u'_';
    return out;
}

} // namespace

MqttBridge::MqttBridge(const ServerConfig::Mqtt &config, LetreiroService &service, QObject *parent)
    : QObject(parent), m_config(config), m_service(service),
      m_journal(service.config().mqttJournalFile)
{
    connect(&m_service, &LetreiroService::exchanged, this, &MqttBridge::exchanged);
}

MqttBridge::~MqttBridge()
{
    if (!m_client) return;
    if (m_running) {
        // A clean goodbye: a disconnect the broker was told of does not
        // send the last will, so the presence is set here.
        publish(topic(QStringLiteral("estado")), "offline", true);
        mosquitto_disconnect(m_client);
        mosquitto_loop_stop(m_client, false);
    }
    mosquitto_destroy(m_client);
}

QString MqttBridge::topic(const QString &rest) const
{
    return QStringLiteral("letreiro/%1/%2").arg(m_config.site, rest);
}

bool MqttBridge::start(QString *error)
{
    QFile journal(m_journal);
    if (journal.open(QIODevice::ReadOnly)) {
        const QJsonArray left = QJsonDocument::fromJson(journal.read(16 << 20)).array();
        journal.close();
        for (const QJsonValue &v : left)
            dispatch(v[QStringLiteral("topico")].toString(),
                     QByteArray::fromBase64(v[QStringLiteral("conteudo")].toString().toLatin1()));
        saveJournal();
    }
    static const int initialised = mosquitto_lib_init();
    Q_UNUSED(initialised);
    const QByteArray id = utf8(QStringLiteral("letreiro-") + m_config.site);
    m_client = mosquitto_new(id.constData(), false, this);
    if (!m_client) {
        *error = QStringLiteral("MQTT: não foi possível criar o cliente");
        return false;
    }
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Small packets that wait for nothing: without it each state and each
    // acknowledgement could sit out the peer's delayed ACK (40 ms).
    mosquitto_int_option(m_client, MOSQ_OPT_TCP_NODELAY, 1);
    const QByteArray will = utf8(topic(QStringLiteral("estado")));
    int rc = mosquitto_will_set(m_client, will.constData(), 7, "offline", kQos, true);
    if (rc == MOSQ_ERR_SUCCESS && !m_config.user.isEmpty())
        rc = mosquitto_username_pw_set(
            m_client, utf8(m_config.user).constData(),
            m_config.password.isEmpty() ? nullptr : utf8(m_config.password).constData());
    if (rc == MOSQ_ERR_SUCCESS && !m_config.caFile.isEmpty())
        rc = mosquitto_tls_set(m_client, QFile::encodeName(m_config.caFile).constData(), nullptr,
                               nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        *error = QStringLiteral("MQTT: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
        return false;
    }
    // A broker that goes away is tried again after 1, 2, 4 … up to 30 s.
    mosquitto_reconnect_delay_set(m_client, 1, 30, true);
    mosquitto_connect_callback_set(m_client, [](mosquitto *, void *self, int code) {
        QMetaObject::invokeMethod(
            static_cast<MqttBridge *>(self),
            [self, code] { static_cast<MqttBridge *>(self)->connected(code); },
            Qt::QueuedConnection);
    });
    mosquitto_disconnect_callback_set(m_client, [](mosquitto *, void *self, int code) {
        if (code != 0)
            QMetaObject::invokeMethod(
                static_cast<MqttBridge *>(self),
                [code] {
                    qWarning("letreiro-servidor: MQTT: conexão perdida (%d); tentando de novo",
                             code);
                },
                Qt::QueuedConnection);
    });
    mosquitto_message_callback_set(
        m_client, [](mosquitto *, void *self, const mosquitto_message *m) {
            if (m->payloadlen > kMaxPayload) return;
            Received r{m->mid, QString::fromUtf8(m->topic),
                       QByteArray(static_cast<const char *>(m->payload), m->payloadlen)};
            QMetaObject::invokeMethod(
                static_cast<MqttBridge *>(self),
                [self, r] { static_cast<MqttBridge *>(self)->deliver(r.mid, r.topic, r.payload); },
                Qt::QueuedConnection);
        });
    // Not reachable yet is no reason to stop: the loop keeps trying.
    rc = mosquitto_connect_async(m_client, utf8(m_config.host).constData(), m_config.port,
                                 kKeepAliveS);
    if (rc != MOSQ_ERR_SUCCESS)
        qWarning("letreiro-servidor: MQTT %s:%d: %s; tentando de novo", qPrintable(m_config.host),
                 m_config.port, rc == MOSQ_ERR_ERRNO ? strerror(errno) : mosquitto_strerror(rc));
    rc = mosquitto_loop_start(m_client);
    if (rc != MOSQ_ERR_SUCCESS) {
        *error = QStringLiteral("MQTT: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
        return false;
    }
    m_running = true;
    return true;
}

void MqttBridge::connected(int code)
{
    if (code != 0) {
        qWarning("letreiro-servidor: MQTT: o servidor recusou a conexão: %s",
                 mosquitto_connack_string(code));
        return;
    }
    for (const char *what : {"+/texto", "+/comando"}) {
        const QByteArray t = utf8(topic(QString::fromLatin1(what)));
        mosquitto_subscribe(m_client, nullptr, t.constData(), kQos);
    }
    publish(topic(QStringLiteral("estado")), "online", true);
    if (m_config.discovery) announce();
}

void MqttBridge::deliver(int mid, const QString &topic, const QByteArray &payload)
{
    const QByteArray key = QCryptographicHash::hash(
        QByteArray::number(mid) + '\0' + utf8(topic) + '\0' + payload, QCryptographicHash::Sha256);
    if (m_recent.contains(key)) return;
    m_recent.insert(key);
    m_recentOrder.push_back(key);
    if (m_recentOrder.size() > kRemembered) {
        m_recent.remove(m_recentOrder.front());
        m_recentOrder.pop_front();
    }

    dispatch(topic, payload);
}

void MqttBridge::dispatch(const QString &topic, const QByteArray &payload)
{
    const QStringList parts = topic.split(u'/');
    const QString panel = parts.value(2), kind = parts.value(3);
    const QString value = QString::fromUtf8(payload);
    const QStringList panels = panel == QLatin1String("todos") ? QStringList() : QStringList{panel};
    const quint64 id = m_nextId++;
    m_pending.append({id, topic, payload});
    saveJournal();
    // A message a stop left undone stays in the journal for the next start.
    const auto done = [self = QPointer<MqttBridge>(this), id](bool interrupted) {
        if (!self || interrupted) return;
        self->m_pending.erase(std::remove_if(self->m_pending.begin(), self->m_pending.end(),
                                             [id](const Pending &p) { return p.id == id; }),
                              self->m_pending.end());
        self->saveJournal();
    };
    const bool known =
        parts.size() == 4 &&
        (kind == QLatin1String("texto")
             ? m_service.sendToPanels(panels, ScheduleEntry::Action::Text, value,
                                      QStringLiteral("mqtt"), done)
             : m_service.sendToPanels(panels, ScheduleEntry::Action::Command, value.trimmed(),
                                      QStringLiteral("mqtt"), done));
    if (!known) {
        qWarning("letreiro-servidor: MQTT: %s: painel ou comando desconhecido", qPrintable(topic));
        done(false);
    }
}

void MqttBridge::saveJournal() const
{
    QJsonArray left;
    for (const Pending &p : m_pending)
        left.append(
            QJsonObject{{QStringLiteral("topico"), p.topic},
                        {QStringLiteral("conteudo"), QString::fromLatin1(p.payload.toBase64())}});
    m_service.stateWriter().save(m_journal, QJsonDocument(left).toJson(QJsonDocument::Compact));
}

void MqttBridge::exchanged(const QString &panel, bool ok, const QString &outcome,
                           const QString &text)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QJsonObject state{
        {QStringLiteral("ok"), ok},
        {QStringLiteral("resultado"), outcome},
        {QStringLiteral("quando"), now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate)},
        {QStringLiteral("texto"), text}};
    publish(topic(panel + QStringLiteral("/estado")),
            QJsonDocument(state).toJson(QJsonDocument::Compact), true);
}

void MqttBridge::publish(const QString &t, const QByteArray &payload, bool retain)
{
    if (!m_client) return;
    // Queued by the library while the broker is away: it goes out on the
    // next connection.
    mosquitto_publish(m_client, nullptr, utf8(t).constData(), int(payload.size()),
                      payload.constData(), kQos, retain);
}

void MqttBridge::announce()
{
    const QJsonObject availability{{QStringLiteral("topic"), topic(QStringLiteral("estado"))}};
    for (const ServerConfig::Panel &p : m_service.config().panels) {
        const QString id = entityId(QStringLiteral("letreiro_%1_%2").arg(m_config.site, p.name));
        const QJsonObject device{
            {QStringLiteral("identifiers"), QJsonArray{id}},
            {QStringLiteral("name"), QStringLiteral("Letreiro %1 (%2)").arg(p.name, m_config.site)},
            {QStringLiteral("manufacturer"), QStringLiteral("Letreiro")}};
        const QJsonObject text{
            {QStringLiteral("name"), QStringLiteral("Texto")},
            {QStringLiteral("unique_id"), id + QStringLiteral("_texto")},
            {QStringLiteral("command_topic"), topic(p.name + QStringLiteral("/texto"))},
            {QStringLiteral("state_topic"), topic(p.name + QStringLiteral("/estado"))},
            {QStringLiteral("value_template"), QStringLiteral("{{ value_json.texto }}")},
            {QStringLiteral("max"), 255},
            {QStringLiteral("availability"), QJsonArray{availability}},
            {QStringLiteral("device"), device}};
        publish(QStringLiteral("homeassistant/text/%1/config").arg(id),
                QJsonDocument(text).toJson(QJsonDocument::Compact), true);
        for (const PanelCommand &c : panelCommands()) {
            const QString &command = c.name;
            const QJsonObject button{
                {QStringLiteral("name"), command.at(0).toUpper() + command.mid(1)},
                {QStringLiteral("unique_id"), id + u'_' + command},
                {QStringLiteral("command_topic"), topic(p.name + QStringLiteral("/comando"))},
                {QStringLiteral("payload_press"), command},
                {QStringLiteral("availability"), QJsonArray{availability}},
                {QStringLiteral("device"), device}};
            publish(QStringLiteral("homeassistant/button/%1_%2/config").arg(id, command),
                    QJsonDocument(button).toJson(QJsonDocument::Compact), true);
        }
    }
}
