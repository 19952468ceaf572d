#pragma once

#include "mqttclient.h"
#include "mqttjournal.h"
#include "paneljob.h"
#include "serverconfig.h"

#include <QHash>
#include <QObject>

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
    MqttBridge(const ServerConfig::Mqtt &config, LetreiroService &service,
               QObject *parent = nullptr);
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
    struct Result {
        bool ok = false;
        QString outcome; // "enviado", "falhou", "substituído", "expirado", "recusado"
        QString why;
        QStringList warnings;
    };

    void connected(bool sessionPresent);
    // A message, journaled; `again` when a start takes it back from the
    // journal (a retained text then runs although it was applied).
    void take(const Entry &e, bool again);
    void runText(const Entry &e, const QStringList &panels, const QString &text);
    void runCommand(const Entry &e, const QStringList &panels, const QString &command);
    // A message's jobs, answered once the last of them ended; one that a
    // stop left undone keeps the message in the journal for the next start.
    void run(const Entry &e, const QList<PanelJobPtr> &jobs, const QStringList &warnings);
    static Result resultOf(const std::optional<JobResult> &failed, const QString &panel,
                           const QStringList &warnings);
    void finish(const Entry &e, const Result &r);
    // A retained text already applied as it is: true, and nothing runs.
    bool appliedBefore(const Entry &e);
    void exchanged(const QString &panel, bool ok, const QString &outcome, const QString &text);
    void publishStates();
    void announce();
    QString topic(const QString &rest) const;

    ServerConfig::Mqtt m_config;
    LetreiroService &m_service;
    MqttJournal m_journal;
    MqttClient m_client;
    QString m_appliedFile, m_announcedFile;
    QHash<QString, QString> m_applied;   // retained text topic → hash of what ran
    QHash<QString, QByteArray> m_states; // panel → its last retained state
    bool m_announced = false;            // since this start
    bool m_stopped = false;
};
