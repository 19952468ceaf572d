#pragma once

// A broker link that hands messages in and keeps what the bridge publishes
// and subscribes to, so a door's rules run in-process on virtual time. It
// acknowledges nothing by itself: a test says what the broker answers.
#include "mqttbridge.h"
#include "mqttlink.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QtTest>

class FakeMqttLink : public MqttLink
{
public:
    QList<QPair<QString, QByteArray>> published; // payload#correlation
    QStringList filters;
    int yielded = 0; // seconds of the last yieldFor

    bool start(const Settings &, QString *) override { return true; }
    void publish(const QString &topic, const QByteArray &payload, bool,
                 const QByteArray &correlation) override
    {
        published.append({topic, payload + (correlation.isEmpty() ? "" : "#" + correlation)});
    }
    // When set, the broker never acknowledges an answer (a kill comes first).
    bool holdAnswers = false;
    void answer(const QString &topic, const QByteArray &payload, const QByteArray &correlation,
                std::function<void()> delivered) override
    {
        publish(topic, payload, false, correlation);
        if (!holdAnswers && delivered) delivered();
    }
    void subscribe(const QString &filter, bool) override { filters.append(filter); }
    void yieldFor(int seconds) override { yielded = seconds; }
    void stop() override {}

    // The payloads published on `topic`, oldest first.
    QList<QByteArray> on(const QString &topic) const
    {
        QList<QByteArray> out;
        for (const auto &[t, p] : published)
            if (t == topic) out.append(p);
        return out;
    }
    // The answer published for `id`, or an empty object.
    QJsonObject answer(const QByteArray &id) const
    {
        for (const auto &[topic, payload] : published)
            if (topic == QLatin1String("resposta") && payload.endsWith("#" + id))
                return QJsonDocument::fromJson(payload.left(payload.lastIndexOf('#'))).object();
        return {};
    }
    // As the broker: a message on `topic` delivered, a request when it
    // names a `responseTopic`.
    void deliver(const QString &topic, const QByteArray &payload, bool retained = false,
                 const QString &responseTopic = {}, const QByteArray &correlation = {})
    {
        received({++m_mid, topic, payload, retained, false, responseTopic, correlation});
    }
    // The next delivery takes packet id `mid` again, as a broker does when
    // it delivers again, or after a session it did not keep.
    void reuseId(int mid) { m_mid = mid - 1; }
    // The broker delivers what was last published on `topic` back.
    void echo(const QString &topic) { deliver(topic, on(topic).last()); }

private:
    int m_mid = 1000;
};

// A bridge for `config` on a fake link (left in `link`), started.
inline std::unique_ptr<MqttBridge> onFakeLink(const ServerConfig::Mqtt &config,
                                              LetreiroService &service, FakeMqttLink *&link)
{
    auto fake = std::make_unique<FakeMqttLink>();
    link = fake.get();
    auto bridge = std::make_unique<MqttBridge>(config, service, std::move(fake));
    QString why;
    [&] { QVERIFY2(bridge->start(&why), qPrintable(why)); }();
    return bridge;
}
