// What the site tells the broker about itself: each panel's state as it
// changes, the list of panels every minute (its heartbeat), and Home
// Assistant's configs, with those of panels gone since taken away.
#include "mqttbridge.h"

#include "letreiroservice.h"
#include "mqttdiscovery.h"
#include "serviceclock.h"
#include "simwidth.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

void MqttBridge::exchanged(const QString &panel, bool ok, const QString &outcome,
                           const QString &reason, const QString &text)
{
    const QDateTime now = m_service.clock().now();
    QJsonObject state{{QStringLiteral("ok"), ok},
                      {QStringLiteral("resultado"), outcome},
                      {QStringLiteral("quando"), isoWithOffset(now)},
                      {QStringLiteral("texto"), text}};
    if (!reason.isEmpty()) state.insert(QStringLiteral("motivo"), reason);
    const QByteArray payload = QJsonDocument(state).toJson(QJsonDocument::Compact);
    m_states.insert(panel, payload);
    if (m_blocked.isEmpty()) m_client.publish(topic(panel + QStringLiteral("/estado")), payload, true);
}

void MqttBridge::heartbeat()
{
    m_service.clock().after(kPanelsEveryMs, this, [this] {
        publishPanels();
        if (!m_stopped) heartbeat();
    });
}

void MqttBridge::publishPanels()
{
    if (m_stopped) return;
    QJsonArray panels;
    for (const ServerConfig::Panel &p : m_service.config().panels)
        panels.append(QJsonObject{{QStringLiteral("painel"), p.name},
                                  {QStringLiteral("tipo"), p.type},
                                  {QStringLiteral("largura"), simwidth::forPanelType(p.type)},
                                  {QStringLiteral("linha"), p.line}});
    if (m_blocked.isEmpty() && m_linkState == Link::Connected)
        m_client.publish(topic(QStringLiteral("paineis")),
                         QJsonDocument(QJsonObject{{QStringLiteral("quando"),
                                                    isoWithOffset(m_service.clock().now())},
                                                   {QStringLiteral("intervalo"), kPanelsEveryMs / 1000},
                                                   {QStringLiteral("paineis"), panels}})
                             .toJson(QJsonDocument::Compact),
                         true);
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
    QSet<QString> now;
    for (const auto &[t, payload] : configs) {
        m_announcing.insert(t, false);
        m_client.publish(t, payload, true);
        now.insert(t);
    }
    if (m_announced) return;
    m_announced = true;
    // Configs a start before had announced, for panels gone since: an empty
    // retained payload takes their entities out of Home Assistant.
    for (const QString &t : std::as_const(m_announcedTopics))
        if (!now.contains(t)) {
            m_announcing.insert(t, true);
            m_client.publish(t, {}, true);
        }
}

void MqttBridge::saveAnnounced()
{
    QStringList sorted(m_announcedTopics.cbegin(), m_announcedTopics.cend());
    sorted.sort();
    m_service.stateWriter().save(
        m_announcedFile,
        QJsonDocument(QJsonObject{{QStringLiteral("topicos"), QJsonArray::fromStringList(sorted)}})
            .toJson(QJsonDocument::Compact));
}
