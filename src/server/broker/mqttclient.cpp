#include "mqttclient.h"
#include "mqttreasons.h"

#include <QFile>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace
{
constexpr int kKeepAliveS = 30;
constexpr int kQos = 1;

QString reasonText(int code)
{
    // Below 128 it is the library's own error (the connection went away).
    return code >= 128 ? mqttreasons::refusal(code) : mqttreasons::libraryError(code);
}

MqttClient::Message messageOf(const mosquitto_message *m, const mosquitto_property *props)
{
    MqttClient::Message out;
    out.mid = m->mid;
    out.topic = QString::fromUtf8(m->topic);
    out.retained = m->retain;
    out.oversized = m->payloadlen > MqttClient::kMaxPayload;
    if (!out.oversized)
        out.payload = QByteArray(static_cast<const char *>(m->payload), m->payloadlen);
    char *topic = nullptr;
    if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &topic, false)) {
        out.responseTopic = QString::fromUtf8(topic);
        free(topic);
    }
    void *data = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &length, false)) {
        out.correlation = QByteArray(static_cast<const char *>(data), length);
        free(data);
    }
    uint32_t expiry = 0;
    if (mosquitto_property_read_int32(props, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL, &expiry, false))
        out.expirySeconds = expiry;
    return out;
}
} // namespace

MqttClient::MqttClient()
{
#ifndef _WIN32
    if (::pipe(m_wakePipe) == 0)
        for (int fd : m_wakePipe) {
            ::fcntl(fd, F_SETFL, O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
#endif
}

MqttClient::~MqttClient()
{
    stop();
    if (m_client) mosquitto_destroy(m_client);
#ifndef _WIN32
    for (int fd : m_wakePipe)
        if (fd >= 0) ::close(fd);
#endif
}

// One turn of the network loop. libmosquitto's own waits with select(),
// whose descriptor set ends at FD_SETSIZE (1,024): the service raises its
// open-file limit far past that for its HTTP clients, and a socket opened
// after they took the low numbers would be written outside the set. poll()
// has no such bound. A publish from another thread while a callback runs
// here is only queued by the library; the wake pipe brings the loop round
// to write it at once, as the library's own loop does with its socket pair:
// an answer left waiting is one a kill would lose.
int MqttClient::loopOnce(int timeoutMs)
{
#ifdef _WIN32
    // Windows' fd_set is a list of sockets, not a bit set: no such bound.
    return mosquitto_loop(m_client, timeoutMs, 1);
#else
    const int fd = mosquitto_socket(m_client);
    if (fd < 0) return MOSQ_ERR_NO_CONN;
    pollfd p[2] = {{fd, short(POLLIN | (mosquitto_want_write(m_client) ? POLLOUT : 0)), 0},
                   {m_wakePipe[0], POLLIN, 0}};
    const int n = ::poll(p, m_wakePipe[0] >= 0 ? 2 : 1, timeoutMs);
    if (n < 0) return errno == EINTR ? MOSQ_ERR_SUCCESS : MOSQ_ERR_ERRNO;
    if (p[1].revents & POLLIN) {
        char drain[64];
        while (::read(m_wakePipe[0], drain, sizeof drain) > 0) {
        }
    }
    int rc = MOSQ_ERR_SUCCESS;
    if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) rc = mosquitto_loop_read(m_client, 1);
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(m_client))
        rc = mosquitto_loop_write(m_client, 1);
    return rc == MOSQ_ERR_SUCCESS ? mosquitto_loop_misc(m_client) : rc;
#endif
}

void MqttClient::wakeLoop()
{
#ifndef _WIN32
    const char byte = 0;
    // A full pipe already holds a wake-up.
    if (m_wakePipe[1] >= 0 && ::write(m_wakePipe[1], &byte, 1) < 0) return;
#endif
}

bool MqttClient::start(const Settings &s, QString *error)
{
    m_settings = s;
    static const int initialised = mosquitto_lib_init();
    Q_UNUSED(initialised);
    m_client = mosquitto_new(s.clientId.toUtf8().constData(), false, this);
    if (!m_client) {
        *error = QStringLiteral("MQTT: não foi possível criar o cliente");
        return false;
    }
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Small packets that wait for nothing: without it each state and each
    // acknowledgement could sit out the peer's delayed ACK (40 ms).
    mosquitto_int_option(m_client, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_threaded_set(m_client, true);
    const QByteArray will = s.willTopic.toUtf8();
    int rc = will.isEmpty() ? MOSQ_ERR_SUCCESS
                            : mosquitto_will_set(m_client, will.constData(),
                                                 int(s.willPayload.size()),
                                                 s.willPayload.constData(), kQos, true);
    if (rc == MOSQ_ERR_SUCCESS && !s.user.isEmpty())
        rc = mosquitto_username_pw_set(m_client, s.user.toUtf8().constData(),
                                       s.password.isEmpty() ? nullptr
                                                            : s.password.toUtf8().constData());
    if (rc == MOSQ_ERR_SUCCESS && !s.caFile.isEmpty()) {
        const QByteArray ca = QFile::encodeName(s.caFile), cert = QFile::encodeName(s.certFile),
                         key = QFile::encodeName(s.keyFile);
        rc = mosquitto_tls_set(m_client, ca.constData(), nullptr,
                               cert.isEmpty() ? nullptr : cert.constData(),
                               key.isEmpty() ? nullptr : key.constData(), nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        *error = QStringLiteral("MQTT: %1").arg(reasonText(rc));
        return false;
    }
    mosquitto_connect_v5_callback_set(
        m_client, [](mosquitto *, void *self, int code, int flags, const mosquitto_property *) {
            auto *c = static_cast<MqttClient *>(self);
            if (code != 0) {
                c->m_reason = code;
                return;
            }
            c->m_up = true;
            if (c->connected) c->connected(flags & 1);
        });
    mosquitto_disconnect_v5_callback_set(
        m_client, [](mosquitto *, void *self, int code, const mosquitto_property *) {
            auto *c = static_cast<MqttClient *>(self);
            if (code == MQTT_RC_SESSION_TAKEN_OVER) c->m_holdOffS = kTakenOverDelayS;
            if (code != 0 && c->m_reason == 0) c->m_reason = code;
        });
    mosquitto_message_v5_callback_set(
        m_client,
        [](mosquitto *, void *self, const mosquitto_message *m, const mosquitto_property *props) {
            auto *c = static_cast<MqttClient *>(self);
            if (c->received) c->received(messageOf(m, props));
        });
    mosquitto_publish_v5_callback_set(
        m_client, [](mosquitto *, void *self, int mid, int reason, const mosquitto_property *) {
            auto *c = static_cast<MqttClient *>(self);
            Publish p;
            {
                std::lock_guard lock(c->m_idsMutex);
                p = c->m_publishes.take(mid);
            }
            if (!p.topic.isNull() && c->acknowledged) c->acknowledged(p.topic, reason);
            if (p.delivered) p.delivered();
        });
    mosquitto_subscribe_v5_callback_set(
        m_client, [](mosquitto *, void *self, int mid, int count, const int *granted,
                     const mosquitto_property *) {
            auto *c = static_cast<MqttClient *>(self);
            QString filter;
            {
                std::lock_guard lock(c->m_idsMutex);
                filter = c->m_subscriptions.take(mid);
            }
            // One filter per SUBSCRIBE: its one code.
            if (!filter.isNull() && count > 0 && c->subscribed) c->subscribed(filter, granted[0]);
        });
    // The TLS library's own words reach only the library's log: kept for the loss.
    mosquitto_log_callback_set(m_client, [](mosquitto *, void *self, int level, const char *text) {
        if (level == MOSQ_LOG_ERR && qstrncmp(text, "OpenSSL", 7) == 0)
            static_cast<MqttClient *>(self)->m_tlsError = QString::fromUtf8(text);
    });
    m_thread = std::thread([this] { run(); });
    return true;
}

void MqttClient::run()
{
    using Clock = std::chrono::steady_clock;
    int delay = 1;
    std::optional<Clock::time_point> lastUp;
    while (!m_stopping) {
        mosquitto_property *props = nullptr;
        mosquitto_property_add_int32(&props, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                                     uint32_t(m_settings.sessionSeconds));
        m_up = false;
        m_reason = 0;
        m_tlsError.clear();
        int rc = mosquitto_connect_bind_v5(m_client, m_settings.host.toUtf8().constData(),
                                           m_settings.port, kKeepAliveS, nullptr, props);
        mosquitto_property_free_all(&props);
        QString detail;
        if (rc != MOSQ_ERR_SUCCESS) {
            m_reason = rc;
            if (rc == MOSQ_ERR_ERRNO) detail = QString::fromLocal8Bit(strerror(errno));
        } else {
            // A stop lets the goodbye out, for a few seconds at most.
            const auto giveUp = Clock::now() + std::chrono::seconds(5);
            while ((!m_stopping || Clock::now() < giveUp) &&
                   (rc = loopOnce(200)) == MOSQ_ERR_SUCCESS) {
            }
            if (m_reason == 0) m_reason = rc;
        }
        if (m_up) lastUp = Clock::now();
        if (!m_tlsError.isEmpty()) detail = m_tlsError;
        // A broker being restarted refuses for a few seconds: backing off
        // then would keep the site away long after the broker is back.
        const bool recentlyUp =
            lastUp && Clock::now() - *lastUp < std::chrono::seconds(kQuickRetryForS);
        const int held = m_holdOffS.exchange(0);
        const int wait = held ? held : recentlyUp ? 1 : delay;
        delay = recentlyUp ? 1 : std::min(delay * 2, kLongestDelayS);
        if (m_stopping) break;
        // A goodbye the bridge asked for is no loss.
        if (lost && !m_yielding.exchange(false))
            lost(Loss{m_reason, detail, wait * 1000LL});
        if (!waitFor(wait)) break;
    }
}

void MqttClient::yieldFor(int seconds)
{
    m_holdOffS = seconds;
    m_yielding = true;
    if (m_up) mosquitto_disconnect_v5(m_client, 0, nullptr);
    wakeLoop();
}

bool MqttClient::waitFor(int seconds)
{
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::seconds(seconds),
                            [this] { return bool(m_stopping); });
}

void MqttClient::publish(const QString &topic, const QByteArray &payload, bool retain,
                         const QByteArray &correlation)
{
    send({topic, payload, correlation, {}, 0}, retain);
}

void MqttClient::answer(const QString &topic, const QByteArray &payload,
                        const QByteArray &correlation, std::function<void()> delivered)
{
    send({topic, payload, correlation, {}, 0}, false, std::move(delivered));
}

void MqttClient::request(const Request &r)
{
    send(r, false);
}

void MqttClient::send(const Request &r, bool retain, std::function<void()> delivered)
{
    if (!m_client) return;
    const QString &topic = r.topic;
    const QByteArray &payload = r.payload;
    mosquitto_property *props = nullptr;
    if (!r.correlation.isEmpty())
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, r.correlation.constData(),
                                      uint16_t(r.correlation.size()));
    if (!r.responseTopic.isEmpty())
        mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC,
                                      r.responseTopic.toUtf8().constData());
    if (r.expirySeconds > 0)
        mosquitto_property_add_int32(&props, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL,
                                     uint32_t(r.expirySeconds));
    // Queued by the library while the broker is away: it goes out on the
    // next connection.
    bool queued = false;
    {
        // Held until the id is known: its PUBACK can come before the call returns.
        std::lock_guard lock(m_idsMutex);
        int mid = 0;
        const int rc = mosquitto_publish_v5(m_client, &mid, topic.toUtf8().constData(),
                                            int(payload.size()), payload.constData(), kQos,
                                            retain, props);
        // With no connection (or one that broke as it was written) the
        // library has still queued the message under its id, and sends it
        // on the next connection: it is not delivered yet. Calling it
        // delivered here ended an answer's journal entry, and a kill before
        // the broker came back lost the answer.
        queued = rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST ||
                 rc == MOSQ_ERR_ERRNO;
        if (queued) m_publishes.insert(mid, {topic, std::move(delivered)});
    }
    // Refused by the library itself (too large, malformed): asking again
    // would not change that.
    if (!queued && delivered) delivered();
    mosquitto_property_free_all(&props);
    wakeLoop();
}

void MqttClient::subscribeFresh(const QString &filter)
{
    std::lock_guard lock(m_idsMutex);
    int mid = 0;
    if (mosquitto_subscribe_v5(m_client, &mid, filter.toUtf8().constData(), kQos,
                               MQTT_SUB_OPT_SEND_RETAIN_ALWAYS, nullptr) == MOSQ_ERR_SUCCESS)
        m_subscriptions.insert(mid, filter);
}

void MqttClient::subscribe(const QString &filter, bool everyRetained)
{
    // Retained messages come at a new subscription only (a kept session has
    // seen them), flagged as retained so that they are known for states.
    std::lock_guard lock(m_idsMutex);
    int mid = 0;
    if (mosquitto_subscribe_v5(m_client, &mid, filter.toUtf8().constData(), kQos,
                               (everyRetained ? MQTT_SUB_OPT_SEND_RETAIN_ALWAYS
                                              : MQTT_SUB_OPT_SEND_RETAIN_NEW) |
                                   MQTT_SUB_OPT_RETAIN_AS_PUBLISHED,
                               nullptr) == MOSQ_ERR_SUCCESS)
        m_subscriptions.insert(mid, filter);
}

void MqttClient::stop()
{
    if (!m_thread.joinable()) return;
    if (m_up) mosquitto_disconnect_v5(m_client, 0, nullptr);
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}
