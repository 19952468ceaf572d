#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

struct mosquitto;

// One MQTT 5 connection kept up on a thread of its own: it connects with a
// session expiry (clean start off), and after a loss tries again after 1, 2,
// 4 … up to 30 s; after its session was taken over by another client with
// the same id, only once a minute, so two services never fight in a loop.
// The callbacks run on that thread.
class MqttClient
{
public:
    struct Settings {
        QString clientId, host;
        quint16 port = 1883;
        QString user, password, caFile;
        qint64 sessionSeconds = 86400;
        QString willTopic;
        QByteArray willPayload;
    };
    struct Message {
        int mid = 0;
        QString topic;
        QByteArray payload;
        bool retained = false;
        bool oversized = false; // its payload is left out
        QString responseTopic;
        QByteArray correlation;
        qint64 expirySeconds = -1; // what is left of its Message Expiry; -1: none
    };
    static constexpr int kMaxPayload = 64 * 1024; // a text longer than this is no panel's
    static constexpr int kTakenOverDelayS = 60;

    std::function<void(bool sessionPresent)> connected;
    std::function<void(const Message &)> received;
    // The reason the broker gave (an MQTT 5 reason code) or the library's error.
    std::function<void(int reason, const QString &why)> lost;

    MqttClient();
    ~MqttClient();
    MqttClient(const MqttClient &) = delete;
    MqttClient &operator=(const MqttClient &) = delete;

    // False with the reason when the settings cannot be used at all; a
    // broker not reachable yet is no such reason.
    bool start(const Settings &settings, QString *error);
    // QoS 1; queued while the broker is away. `correlation` and
    // `responseTopic` answer a request.
    void publish(const QString &topic, const QByteArray &payload, bool retain,
                 const QByteArray &correlation = {});
    void subscribe(const QString &filter);
    // A clean goodbye (no last will); waits for what was published first.
    void stop();

private:
    void run();
    int loopOnce(int timeoutMs);
    void wakeLoop();           // from any thread: the loop writes what is queued now
    bool waitFor(int seconds); // false once stopping
    void noticeTakeOver();     // after a connection that was made ended

    Settings m_settings;
    mosquitto *m_client = nullptr;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_takenOver{false};
    std::atomic<bool> m_up{false};
    std::chrono::steady_clock::time_point m_connectedAt; // on the network thread
    int m_wakePipe[2] = {-1, -1};
    int m_shortLived = 0; // connections in a row that ended within a minute
};
