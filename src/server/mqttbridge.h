#pragma once

#include "serverconfig.h"

#include <QHash>
#include <QObject>
#include <QSet>

#include <deque>

class LetreiroService;
struct mosquitto;

// The site on an MQTT broker (libmosquitto). It subscribes with QoS 1 in a
// persistent session under the fixed client id `letreiro-SITE`, so what is
// published while the service is away waits on the broker:
//   letreiro/SITE/PAINEL/texto     UTF-8 text, sent as `transfere --texto`
//   letreiro/SITE/PAINEL/comando   para | inicia | apaga | hora | data
//   letreiro/SITE/todos/…          the same for every panel of the site
// and publishes, retained, each panel's state after every exchange
// (letreiro/SITE/PAINEL/estado) and the site's presence (letreiro/SITE/estado,
// "offline" as the last will). The library's network thread only hands
// what arrives to this object's thread.
class MqttBridge : public QObject
{
    Q_OBJECT
public:
    MqttBridge(const ServerConfig::Mqtt &config, LetreiroService &service,
               QObject *parent = nullptr);
    ~MqttBridge() override;

    // Starts connecting (and reconnecting with back-off, for good); false
    // with the reason when the settings cannot be used at all.
    bool start(QString *error);
    // A message as the library's network thread hands it over: a QoS 1
    // packet sent again (its acknowledgement lost with the connection) comes
    // with the same id, topic and payload, and is passed over.
    void deliver(int mid, const QString &topic, const QByteArray &payload);

private:
    struct Received {
        int mid;
        QString topic;
        QByteArray payload;
    };

    void connected(int code);
    // Hands a message to the panels; it stays in the journal until its
    // exchanges are over, so a service killed meanwhile sends it at start.
    void dispatch(const QString &topic, const QByteArray &payload);
    void saveJournal() const;
    void exchanged(const QString &panel, bool ok, const QString &outcome, const QString &text);
    void publish(const QString &topic, const QByteArray &payload, bool retain);
    void announce(); // Home Assistant discovery
    QString topic(const QString &rest) const;

    ServerConfig::Mqtt m_config;
    LetreiroService &m_service;
    mosquitto *m_client = nullptr;
    bool m_running = false;
    // A QoS 1 message the broker sends again (its acknowledgement lost with
    // the connection) comes with the same id: it is not sent twice.
    std::deque<QByteArray> m_recentOrder;
    QSet<QByteArray> m_recent;
    QString m_journal;
    struct Pending {
        quint64 id;
        QString topic;
        QByteArray payload;
    };
    QList<Pending> m_pending;
    quint64 m_nextId = 0;
};
