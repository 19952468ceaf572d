#pragma once

#include "mqttclient.h"
#include "mqttjournal.h"
#include "sending.h"
#include "serverconfig.h"

#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QSet>

#include <memory>

class LetreiroService;

// The site on an MQTT broker (MQTT 5, libmosquitto). It subscribes with
// QoS 1 in a session the broker keeps for `[mqtt] sessao` under the fixed
// client id `letreiro-SITE`, so what is published while the service is
// away waits on the broker:
//   letreiro/SITE/PAINEL/texto     UTF-8 text, sent as `transfere --texto`
//   letreiro/SITE/PAINEL/comando   para | inicia | apaga | hora | data
//   letreiro/SITE/todos/…          the same for every panel of the site
// A message with a Response Topic gets one result there, with its
// Correlation Data. The bridge publishes, retained, each panel's state
// after every exchange (letreiro/SITE/PAINEL/estado) and the site's
// presence (letreiro/SITE/estado, "offline" as the last will): "online"
// only once the broker delivered the bridge's own probe
// (letreiro/SITE/sonda), "sem leitura" when it did not. Its random id,
// retained on letreiro/SITE/dono, tells it when another service took the
// site: a record of its own that someone else overwrote.
class MqttBridge : public QObject
{
    Q_OBJECT
public:
    // How long the probe may take before the site is said deaf.
    static constexpr qint64 kProbeTimeoutMs = 5000;
    // The refused topics `avisos` names at most.
    static constexpr int kRefusalsShown = 20;
    static constexpr qint64 kPanelsEveryMs = 60 * 1000;

    // `link`: the connection to the broker (tests give a fake); by default
    // a real one.
    MqttBridge(const ServerConfig::Mqtt &config, LetreiroService &service,
               std::unique_ptr<MqttLink> link = {}, QObject *parent = nullptr);
    ~MqttBridge() override;

    // Takes back what the journal holds and starts connecting (and
    // reconnecting, for good); false with the reason when the settings
    // cannot be used at all. A journal that cannot be read is set aside and
    // keeps the site off the broker until someone looks.
    bool start(QString *error);
    // The goodbye: `offline`, then the connection closed. What has not run
    // stays in the journal for the next start.
    void stop();

    // {"estado", "desde", "motivo", "proxima_tentativa"}: the link now.
    QJsonObject linkJson() const;
    QStringList warnings() const;

private:
    using Entry = MqttJournal::Entry;
    enum class Link { Off, Connected, Reconnecting, Refused };

    // One line of the service's MQTT log.
    static void log(const QString &text);

    void connected(bool sessionPresent);
    void lost(const MqttLink::Loss &loss);
    void setLink(Link state, const QString &why, qint64 retryMs);
    // A message on the bridge's own topics (the probe, the owner record).
    void own(const MqttLink::Message &m);
    void takenOver();
    void acknowledged(const QString &topic, int reason);
    void subscribed(const QString &filter, int reason);
    // A message, journaled; `again` when a start takes it back from the
    // journal (a retained text then runs although it was applied).
    void take(const Entry &e, bool again);
    // Its answer on the message's Response Topic, and the journal let go.
    void finish(const Entry &e, const SendResult &r);
    void publishAnswer(const Entry &e);
    // A retained text already applied as it is: true, and nothing runs.
    bool appliedBefore(const Entry &e);
    void exchanged(const QString &panel, bool ok, const QString &outcome, const QString &reason,
                   const QString &text);
    // The site's panels for the head office (retained), again every
    // kPanelsEveryMs while the service runs: its heartbeat.
    void publishPanels();
    void heartbeat();
    void publishStates();
    void announce();
    void saveAnnounced();
    // Read whole, or set aside (with a note) when it is there and cannot be.
    QJsonObject readState(const QString &path);
    QString topic(const QString &rest) const;
    QStringList filters() const;
    bool readsTopic(const QString &topic) const;

    ServerConfig::Mqtt m_config;
    LetreiroService &m_service;
    MqttJournal m_journal;
    std::unique_ptr<MqttLink> m_link;
    MqttLink &m_client;
    const QByteArray m_instance; // this start's id on the owner record
    QString m_appliedFile, m_announcedFile;
    QHash<QString, QString> m_applied;   // retained text topic → hash of what ran
    QHash<QString, QByteArray> m_states; // panel → its last retained state
    QSet<QString> m_announcedTopics;      // configs the broker took
    QHash<QString, bool> m_announcing;    // config topic → is it a removal, until its PUBACK
    bool m_announced = false;            // since this start
    bool m_stopped = false;
    QString m_blocked; // why no message is taken (an unreadable journal)

    Link m_linkState = Link::Off;
    QDateTime m_since, m_nextTry;
    QString m_why, m_logged; // the link's trouble, and the last one logged
    QByteArray m_probe;      // this connection's, until it comes back
    bool m_deaf = false;
    bool m_claimed = false;  // the owner record holds m_instance, as far as we know
    QByteArray m_ownerSeen;  // on the owner record, this connection
    QMap<QString, QString> m_refusals; // topic or filter → what `avisos` says
    QSet<QString> m_refusalsLogged;    // topic and reason
};
