#pragma once

#include "mqttclient.h"
#include "mqttjournal.h"
#include "sending.h"
#include "serverconfig.h"

#include <QHash>
#include <QObject>

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
// presence (letreiro/SITE/estado, "offline" as the last will).
class MqttBridge : public QObject
{
    Q_OBJECT
public:
    // `link`: the connection to the broker (tests give a fake); by default
    // a real one.
    MqttBridge(const ServerConfig::Mqtt &config, LetreiroService &service,
               std::unique_ptr<MqttLink> link = {}, QObject *parent = nullptr);
    ~MqttBridge() override;

    // Takes back what the journal holds and starts connecting (and
    // reconnecting, for good); false with the reason when the settings or
    // the journal cannot be used at all.
    bool start(QString *error);
    // The goodbye: `offline`, then the connection closed. What has not run
    // stays in the journal for the next start.
    void stop();

private:
    using Entry = MqttJournal::Entry;
    void connected(bool sessionPresent);
    // A message, journaled; `again` when a start takes it back from the
    // journal (a retained text then runs although it was applied).
    void take(const Entry &e, bool again);
    // Its answer on the message's Response Topic, and the journal let go.
    void finish(const Entry &e, const SendResult &r);
    // A retained text already applied as it is: true, and nothing runs.
    bool appliedBefore(const Entry &e);
    void exchanged(const QString &panel, bool ok, const QString &outcome, const QString &text);
    void publishStates();
    void announce();
    QString topic(const QString &rest) const;

    ServerConfig::Mqtt m_config;
    LetreiroService &m_service;
    MqttJournal m_journal;
    std::unique_ptr<MqttLink> m_link;
    MqttLink &m_client;
    QString m_appliedFile, m_announcedFile;
    QHash<QString, QString> m_applied;   // retained text topic → hash of what ran
    QHash<QString, QByteArray> m_states; // panel → its last retained state
    bool m_announced = false;            // since this start
    bool m_stopped = false;
};
