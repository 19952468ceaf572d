#pragma once

#include "mqttlink.h"

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
class MqttClient : public MqttLink
{
public:
    static constexpr int kTakenOverDelayS = 60;

    MqttClient();
    ~MqttClient() override;
    MqttClient(const MqttClient &) = delete;
    MqttClient &operator=(const MqttClient &) = delete;

    bool start(const Settings &settings, QString *error) override;
    void publish(const QString &topic, const QByteArray &payload, bool retain,
                 const QByteArray &correlation = {}) override;
    void subscribe(const QString &filter) override;
    void stop() override;

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
