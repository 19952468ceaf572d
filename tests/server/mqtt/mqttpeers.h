#pragma once

// A real Mosquitto broker on a loopback port, and a client that watches and
// publishes, for the tests and the fleet benchmark.
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <atomic>
#include <functional>

// A port nobody listens on now (a broker's, before it starts).
inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class Broker
{
public:
    // Keeps its sessions and retained messages in `folder`, across restart().
    // `listener` adds to the listener (TLS files); `security` replaces
    // "allow_anonymous true" (a password file).
    explicit Broker(const QString &folder, const QString &listener = {},
                    const QString &security = QStringLiteral("allow_anonymous true\n"))
    {
        m_port = freePort();
        QDir().mkpath(folder);
        m_config = QDir(folder).filePath(QStringLiteral("mosquitto.conf"));
        QFile f(m_config);
        f.open(QIODevice::WriteOnly);
        // "user root" only keeps a broker started by root from dropping to
        // an account that cannot write the test's folder.
        f.write(QStringLiteral("listener %1 127.0.0.1\n%3%4persistence true\n"
                               "persistence_location %2/\nuser root\nmax_queued_messages 100000\n"
                               "log_type error\nset_tcp_nodelay true\n")
                    .arg(m_port)
                    .arg(folder, listener, security)
                    .toUtf8());
        f.close();
        start();
    }
    ~Broker() { stop(); }
    quint16 port() const { return m_port; }
    void start()
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(MOSQUITTO_BROKER), {QStringLiteral("-c"), m_config});
        m_process.waitForStarted();
        for (int i = 0; i < 100; ++i) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, m_port);
            if (s.waitForConnected(100)) return;
            QThread::msleep(50);
        }
    }
    void stop()
    {
        m_process.terminate();
        m_process.waitForFinished(10000);
    }
    // `forget`: as a broker without persistence, it comes back empty.
    void restart(bool forget = false)
    {
        stop();
        if (forget)
            QFile::remove(QFileInfo(m_config).dir().filePath(QStringLiteral("mosquitto.db")));
        start();
    }

private:
    quint16 m_port = 0;
    QString m_config;
    QProcess m_process;
};

// A request in MQTT 5's terms: answered on `responseTopic` with
// `correlation`; `expiry` seconds (0: none).
struct PublishOptions {
    bool retain = false;
    QString responseTopic = {};
    QByteArray correlation = {};
    int expiry = 0;
};

class MqttPeer
{
public:
    using Handler = std::function<void(const QString &topic, const QByteArray &payload)>;

    struct Login {
        QString caFile, user, password; // TLS against this CA; a broker's password
    };

    // `handler` (optional) runs on the library's thread for every message.
    MqttPeer(quint16 port, QStringList subscriptions, Handler handler = {}, const Login &login = {})
        : m_subscriptions(std::move(subscriptions)), m_handler(std::move(handler))
    {
        mosquitto_lib_init();
        m_client = mosquitto_new(nullptr, true, this);
        if (!login.caFile.isEmpty())
            mosquitto_tls_set(m_client, login.caFile.toUtf8().constData(), nullptr, nullptr,
                              nullptr, nullptr);
        if (!login.user.isEmpty())
            mosquitto_username_pw_set(m_client, login.user.toUtf8().constData(),
                                      login.password.toUtf8().constData());
        mosquitto_reconnect_delay_set(m_client, 1, 1, false);
        mosquitto_int_option(m_client, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        mosquitto_connect_callback_set(m_client, [](mosquitto *m, void *self, int) {
            for (const QString &t : static_cast<MqttPeer *>(self)->m_subscriptions)
                mosquitto_subscribe(m, nullptr, t.toUtf8().constData(), 1);
        });
        mosquitto_disconnect_callback_set(m_client, [](mosquitto *, void *self, int) {
            static_cast<MqttPeer *>(self)->m_subscribed = false;
        });
        mosquitto_subscribe_callback_set(m_client,
                                         [](mosquitto *, void *self, int, int, const int *) {
                                             static_cast<MqttPeer *>(self)->m_subscribed = true;
                                         });
        mosquitto_message_v5_callback_set(m_client, [](mosquitto *, void *self,
                                                       const mosquitto_message *m,
                                                       const mosquitto_property *props) {
            auto *peer = static_cast<MqttPeer *>(self);
            const QString topic = QString::fromUtf8(m->topic);
            const QByteArray payload(static_cast<const char *>(m->payload), m->payloadlen);
            if (peer->m_handler) peer->m_handler(topic, payload);
            void *data = nullptr;
            uint16_t length = 0;
            QByteArray correlation;
            if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &length,
                                               false)) {
                correlation = QByteArray(static_cast<const char *>(data), length);
                free(data);
            }
            QMutexLocker lock(&peer->m_mutex);
            peer->m_messages.append({topic, payload});
            peer->m_correlations.insert(peer->m_messages.size() - 1, correlation);
        });
        mosquitto_connect_async(m_client, "127.0.0.1", port, 10);
        mosquitto_loop_start(m_client);
    }
    ~MqttPeer()
    {
        mosquitto_disconnect(m_client);
        mosquitto_loop_stop(m_client, false);
        mosquitto_destroy(m_client);
    }
    bool subscribed() const { return m_subscribed; }
    void publish(const QString &topic, const QByteArray &payload, const PublishOptions &o = {})
    {
        mosquitto_property *props = nullptr;
        if (!o.responseTopic.isEmpty())
            mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC,
                                          o.responseTopic.toUtf8().constData());
        if (!o.correlation.isEmpty())
            mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA,
                                          o.correlation.constData(),
                                          uint16_t(o.correlation.size()));
        if (o.expiry > 0)
            mosquitto_property_add_int32(&props, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL,
                                         uint32_t(o.expiry));
        mosquitto_publish_v5(m_client, nullptr, topic.toUtf8().constData(), int(payload.size()),
                             payload.constData(), 1, o.retain, props);
        mosquitto_property_free_all(&props);
    }
    // The answers on topics under `prefix`: correlation data → payloads.
    QHash<QByteArray, QList<QByteArray>> answers(const QString &prefix)
    {
        QMutexLocker lock(&m_mutex);
        QHash<QByteArray, QList<QByteArray>> out;
        for (int i = 0; i < m_messages.size(); ++i)
            if (m_messages[i].first.startsWith(prefix))
                out[m_correlations.value(i)].append(m_messages[i].second);
        return out;
    }
    QList<QPair<QString, QByteArray>> messages()
    {
        QMutexLocker lock(&m_mutex);
        return m_messages;
    }
    // The payloads seen on `topic`, oldest first.
    QList<QByteArray> on(const QString &topic)
    {
        QList<QByteArray> out;
        for (const auto &[t, p] : messages())
            if (t == topic) out.append(p);
        return out;
    }

private:
    mosquitto *m_client = nullptr;
    QStringList m_subscriptions;
    Handler m_handler;
    std::atomic<bool> m_subscribed{false};
    QMutex m_mutex;
    QList<QPair<QString, QByteArray>> m_messages;
    QHash<int, QByteArray> m_correlations; // by index in m_messages
};
