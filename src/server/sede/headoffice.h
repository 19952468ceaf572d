#pragma once

#include "fleet.h"
#include "fleetsends.h"
#include "httpapi.h"
#include "messagelibrary.h"
#include "mqttlink.h"
#include "serverconfig.h"

#include <QDateTime>
#include <QObject>
#include <QThreadPool>

#include <memory>

class ServiceClock;
class StateWriter;

// The head office: reads what every site publishes on the broker (Fleet),
// sends to many sites at once with a row per panel (FleetSends), keeps
// every send in its audit file, and answers the page under /api/sede/…
// behind the service's own login. A user limited to some sites (`sitios`
// in the users file) sees and sends to those only, and a reader
// (`leitura`) sends nothing: the API says no, not only the page.
class HeadOffice : public QObject
{
    Q_OBJECT
public:
    // `link`: the connection to the broker (tests give a fake); by default
    // a real one.
    HeadOffice(const ServerConfig &config, ServiceClock &clock, StateWriter &writer,
               UserStore &users, std::unique_ptr<MqttLink> link = {}, QObject *parent = nullptr);
    ~HeadOffice() override;

    // Takes back the audit and connects; false with why when the settings
    // cannot be used at all.
    bool start(QString *error);
    void stop();
    // Its routes (/api/sede/…) and /metrics lines, on `api`.
    void serveOn(HttpApi &api);

    void route(const HttpRequest &req, const QStringList &path, const QString &user,
               const HttpApi::Reply &reply);
    QByteArray metrics() const;
    // A note when the audit could not be read whole (for the warnings).
    QString note() const { return m_note; }

private:
    std::function<bool(const QString &)> allowedFor(const QString &user) const;
    void received(const MqttLink::Message &m);
    void startSend(const HttpRequest &req, const QString &user, const HttpApi::Reply &reply);
    // Where a send goes, from its request; `refusal` says why it may not
    // (a site out of reach or unknown), `notes` what it leaves out.
    QList<FleetSends::Target> targetsOf(const QJsonObject &o,
                                        const std::function<bool(const QString &)> &allowed,
                                        QStringList *notes, QString *refusal) const;
    void preview(const HttpRequest &req, const std::function<bool(const QString &)> &allowed,
                 const HttpApi::Reply &reply);
    void armDeadlines();
    void audit(const FleetSends::Send &s);
    QString answerTopic() const;
    qint64 now() const;

    ServerConfig::Sede m_config;
    QMap<QString, QStringList> m_groups;
    ServiceClock &m_clock;
    StateWriter &m_writer;
    UserStore &m_users;
    QString m_auditFile;
    MessageLibrary m_library;
    std::unique_ptr<MqttLink> m_link;
    Fleet m_fleet;
    FleetSends m_sends;
    bool m_linkUp = false;
    QString m_linkWhy;
    QDateTime m_linkSince;
    bool m_armed = false;
    // Each topic's messages not yet acknowledged by the broker, in the
    // order they went: PUBACKs come back in that order.
    QHash<QString, QList<QByteArray>> m_unacknowledged;
    QHash<QString, QByteArray> m_auditLines; // each send kept, as its audit line
    QString m_note;
    int m_previewsInHand = 0;
    QThreadPool m_previewPool;
};
