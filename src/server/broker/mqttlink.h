#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// What the bridge needs of a connection to the broker: MqttClient is the
// real one; tests give a fake that hands messages in and keeps what was
// published, so a door's rules run in-process on virtual time.
class MqttLink
{
public:
    struct Settings {
        QString clientId, host;
        quint16 port = 1883;
        QString user, password, caFile, certFile, keyFile;
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

    // Why a connection ended or an attempt failed, and when the next one comes.
    struct Loss {
        int reason = 0;  // an MQTT 5 reason code (0x80 and up) or the library's error
        QString detail;  // the library's or the system's own words (a TLS error)
        qint64 retryMs = 0;
    };

    // Called on the link's own thread (any thread, for a fake).
    std::function<void(bool sessionPresent)> connected;
    std::function<void(const Message &)> received;
    std::function<void(const Loss &)> lost;
    // The broker's reason code for each publish (its PUBACK) and each
    // subscription (its SUBACK): 0x80 and up is a refusal.
    std::function<void(const QString &topic, int reason)> acknowledged;
    std::function<void(const QString &filter, int reason)> subscribed;

    virtual ~MqttLink() = default;
    // False with the reason when the settings cannot be used at all; a
    // broker not reachable yet is no such reason.
    virtual bool start(const Settings &settings, QString *error) = 0;
    // QoS 1; queued while the broker is away. `correlation` answers a request.
    virtual void publish(const QString &topic, const QByteArray &payload, bool retain,
                         const QByteArray &correlation = {}) = 0;
    // An answer: published as above, and `delivered` called (on the link's
    // thread) once the broker has it, whatever its reason code (a refusal
    // does not change by asking again). A link that cannot tell calls it at
    // once.
    virtual void answer(const QString &topic, const QByteArray &payload,
                        const QByteArray &correlation, std::function<void()> delivered)
    {
        publish(topic, payload, false, correlation);
        if (delivered) delivered();
    }
    // `everyRetained`: the retained message comes at every subscription,
    // not only at a new one.
    virtual void subscribe(const QString &filter, bool everyRetained = false) = 0;
    // A message to another client that answers it on `responseTopic` with
    // `correlation`, and waits on the broker for `expirySeconds` at most.
    struct Request {
        QString topic;
        QByteArray payload, correlation;
        QString responseTopic;
        qint64 expirySeconds = 0;
    };
    virtual void request(const Request &r) { publish(r.topic, r.payload, false, r.correlation); }
    // A subscription whose messages say "retained" only when they were
    // kept from before it (a reader that tells old news from new).
    virtual void subscribeFresh(const QString &filter) { subscribe(filter, true); }
    // Closes the connection with a clean goodbye (no last will) and makes
    // the next attempt only after `seconds`: the site is someone else's.
    virtual void yieldFor(int seconds) = 0;
    // A clean goodbye (no last will); waits for what was published first.
    virtual void stop() = 0;
};
