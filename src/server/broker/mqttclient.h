#pragma once

#include "mqttlink.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

struct mosquitto;

// One MQTT 5 connection kept up on a thread of its own: it connects with a
// session expiry (clean start off). For a minute after a connection that
// was made ends it tries again every second (a broker being restarted is
// back in seconds, and a fleet should be too); otherwise after 1, 2, 4 …
// up to 30 s. After the broker says the session was taken over (0x8E), or
// the bridge yields the site, only once a minute, so two services never
// fight in a loop. The callbacks run on that thread.
class MqttClient : public MqttLink
{
public:
    static constexpr int kTakenOverDelayS = 60;
    static constexpr int kQuickRetryForS = 60; // after a connection that was made
    static constexpr int kLongestDelayS = 30;

    MqttClient();
    ~MqttClient() override;
    MqttClient(const MqttClient &) = delete;
    MqttClient &operator=(const MqttClient &) = delete;

    bool start(const Settings &settings, QString *error) override;
    void publish(const QString &topic, const QByteArray &payload, bool retain,
                 const QByteArray &correlation = {}) override;
    void answer(const QString &topic, const QByteArray &payload, const QByteArray &correlation,
                std::function<void()> delivered) override;
    void subscribe(const QString &filter, bool everyRetained = false) override;
    void request(const Request &r) override;
    void subscribeFresh(const QString &filter) override;
    void yieldFor(int seconds) override;
    void stop() override;

private:
    void send(const Request &r, bool retain, std::function<void()> delivered = {});
    void run();
    int loopOnce(int timeoutMs);
    void wakeLoop();           // from any thread: the loop writes what is queued now
    bool waitFor(int seconds); // false once stopping

    Settings m_settings;
    mosquitto *m_client = nullptr;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_holdOffS{0}; // the next attempt waits this long, once
    std::atomic<bool> m_up{false};
    std::atomic<bool> m_yielding{false};
    int m_wakePipe[2] = {-1, -1};
    // What ended the last attempt (network thread only).
    int m_reason = 0;
    QString m_tlsError;
    // Each publish and subscription not yet acknowledged: its topic or
    // filter, and for an answer what to call once the broker has it.
    struct Publish {
        QString topic;
        std::function<void()> delivered;
    };
    std::mutex m_idsMutex;
    QHash<int, Publish> m_publishes;
    QHash<int, QString> m_subscriptions;
};
