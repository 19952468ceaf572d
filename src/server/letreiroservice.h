#pragma once

#include "historystore.h"
#include "paneljob.h"
#include "schedule.h"
#include "serverconfig.h"
#include "statewriter.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QObject>

#include <functional>
#include <memory>

class AgendaRunner;
class LineQueue;
class RelayServer;
class RichText;
class ServiceClock;

// The service as its parts put together, on the main thread: a queue per
// line (LineQueue), the relays (RelayServer), the history (HistoryStore),
// the agenda (AgendaRunner) and the state writer. Every request is a
// PanelJob that carries its own result callback; the history hears of
// every job that ends.
class LetreiroService : public QObject
{
    Q_OBJECT
public:
    // Makes the port of a line (tests give a fake line); by default the
    // line's own device, opened again whenever it went away.
    using PortFactory = std::function<std::unique_ptr<PanelPort>(const ServerConfig::Line &)>;

    explicit LetreiroService(ServerConfig config, ServiceClock *clock = nullptr,
                             PortFactory ports = {}, QObject *parent = nullptr);
    ~LetreiroService() override;

    // Opens the lines and the relays and starts the agenda; false with the
    // reason when a relay cannot listen. An agenda file that cannot be read
    // never stops it: it is set aside and said in the warnings.
    bool start(QString *error);
    const ServerConfig &config() const { return m_config; }
    ServiceClock &clock() const { return m_clock; }

    // A job for a panel, not yet submitted (the caller sets its deadline and
    // `done`); nullptr for a panel or command that does not exist.
    PanelJobPtr textJob(const QString &panel, const QString &text, const QString &who) const;
    PanelJobPtr messageJob(const QString &panel, const RichText &message, const QString &what,
                           const QString &who) const;
    PanelJobPtr commandJob(const QString &panel, const QString &command, const QString &who) const;
    // To the job's line; `done` runs on this thread once it ended, however.
    void submit(PanelJobPtr job);

    // The same to several panels (empty: every panel); a clock or date sync
    // goes once per line, since every panel on it hears it. False for a
    // panel or command that does not exist. `allDone`, if given, runs once
    // every job ended, told whether any was left undone by a stop.
    bool sendToPanels(QStringList panels, ScheduleEntry::Action action, const QString &value,
                      const QString &who, std::function<void(bool interrupted)> allDone = {});

    QJsonArray scheduleJson() const;
    // Replaces the editable entries of the agenda and keeps them in its file.
    bool setSchedule(const QList<ScheduleEntry> &entries, QString *error);
    QJsonArray panelsJson() const;
    QJsonArray historyJson() const { return m_history.json(); }
    // {"versao", "linhas": [{"nome", "porta", "fila", "ocupada"}], "avisos"}
    QJsonObject stateJson() const;
    // What went wrong and still is: files that could not be written; and
    // what the start found wrong (a damaged history, an agenda set aside).
    QStringList warnings() const { return m_warnings.values() + m_startNotes; }
    // False while a line's worker is stuck beyond its longest exchange;
    // safe from any thread.
    bool isHealthy() const;
    // Where the relay of a line listens (after start).
    quint16 relayPort(const QString &line) const;

    // Nothing new starts, every waiting job answers Stopping at once, each
    // line's frame on the wire ends whole; stopped() once every line is idle.
    void stop();
    bool isStopping() const { return m_stopping; }
    // The files of the service's state are written through it.
    StateWriter &stateWriter() { return m_writer; }
    // Waits until the state files are written (a stop, a test).
    void flush() { m_writer.flush(); }

Q_SIGNALS:
    // After each exchange with a configured panel: how it went and the
    // text the panel was last given.
    void exchanged(const QString &panel, bool ok, const QString &outcome, const QString &text);
    void stopped();

private:
    PanelJobPtr panelJob(const QString &panel, PanelJob::Kind kind, const QString &what,
                         const QString &who) const;
    void submitTo(LineQueue *line, PanelJobPtr job);
    void ended(const PanelJob &job, const JobResult &r);
    void note(const QString &who, const QString &what, const QString &text, bool ok = true);
    void written(const QString &path, const QString &why);
    void startNote(const QString &text);
    void lineIdle();

    ServerConfig m_config;
    ServiceClock &m_clock;
    PortFactory m_ports;
    StateWriter m_writer;
    HistoryStore m_history;
    AgendaRunner *m_agenda;
    QHash<QString, LineQueue *> m_lines; // by name; fixed once started
    QHash<QString, RelayServer *> m_relays;
    QHash<QString, QString> m_shown;   // by panel: the text it was last given
    QMap<QString, QString> m_warnings; // by file
    QStringList m_startNotes;
    bool m_stopping = false;
    bool m_stoppingLines = false; // until every line has been told
    bool m_stoppedSaid = false;
};
