#pragma once

#include "historystore.h"
#include "result.h"
#include "schedule.h"
#include "sending.h"
#include "serverconfig.h"
#include "statewriter.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QObject>

#include <functional>
#include <memory>

class LineQueue;
class PanelPort;
class ServiceClock;
struct JobResult;
struct PanelJob;

// What a door that keeps an agenda offers the others through the spine:
// the page edits the agenda without knowing who runs it.
class AgendaHooks
{
public:
    virtual ~AgendaHooks() = default;
    virtual QJsonArray json() const = 0;
    // Replaces the editable entries and keeps them in the agenda's file.
    virtual Result<> setEditable(const QList<ScheduleEntry> &entries) = 0;
    virtual void stop() = 0;
};

// A relayed frame's end: whether it went over the wire, and the panel's
// answer as it came.
struct FrameResult {
    bool ran = false;
    QByteArray reply;
};

// The spine of the service, on the main thread: a queue per line, the
// history and the state files, and the one send path every door goes
// through (send(): these panels, this text, message or command, one
// deadline; one result per panel and their rollup). The doors (the page
// and its API, MQTT, the agenda, the relays) stand above it and it names
// none of them: they hear of it through signals and the hooks they set.
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

    // Opens the lines.
    void start();
    const ServerConfig &config() const { return m_config; }
    ServiceClock &clock() const { return m_clock; }
    StateWriter &stateWriter() { return m_writer; }

    // The one send path: the text policy (warnings, `estrito`), a job per
    // panel (one per line for a command every panel of it hears), and
    // `done` once every job ended, on this thread.
    void send(SendRequest request, std::function<void(const SendResult &)> done);
    // A relay client's own frame, sent as it came to the line's panels.
    void sendFrame(const QString &line, qint16 address, const QByteArray &data,
                   std::function<void(const FrameResult &)> done);

    // The warnings a text or message gets for a panel's type (for a preview).
    QStringList warnings(const RichText &message, const QStringList &panels) const;

    // Something that happened without a panel, for the history (a late
    // agenda entry, a message that could not be read).
    void record(const QString &who, const QString &what, const QString &text, bool ok);

    void setAgenda(AgendaHooks *agenda) { m_agenda = agenda; }
    QJsonArray scheduleJson() const;
    Result<> setSchedule(const QList<ScheduleEntry> &entries);

    QJsonArray panelsJson() const;
    // Panels' parts of sends since the start, by result (for /metrics).
    QMap<QString, qint64> sendCounts() const { return m_sendCounts; }
    QJsonArray historyJson() const { return m_history.json(); }
    // {"versao", "linhas": [{"nome", "porta", "fila", "ocupada"}], "avisos"},
    // and what each door added (addState).
    QJsonObject stateJson() const;
    // A door's own part of the state ("mqtt": the link to the broker).
    void addState(const QString &key, std::function<QJsonValue()> part);
    // What went wrong and still is: files that could not be written, what
    // the start found wrong, and what each door says (addWarnings).
    QStringList warnings() const;
    void addWarnings(std::function<QStringList()> part);
    // A note for the warnings, from the start of the service or a door.
    void startNote(const QString &text);
    // False while a line's worker is stuck beyond its longest exchange;
    // safe from any thread.
    bool isHealthy() const;

    // Nothing new starts, every waiting job answers Stopping at once, each
    // line's frame on the wire ends whole and its answer is waited for;
    // stopped() once every line is idle.
    void stop();
    // Waits until the state files are written (a stop, a test).
    void flush() { m_writer.flush(); }

Q_SIGNALS:
    // After each exchange that reached a configured panel (a clock sync
    // reaches every panel of its line): how it went, in the vocabulary of
    // SendEnd, and the text the panel was last given.
    void exchanged(const QString &panel, bool ok, const QString &outcome, const QString &reason,
                   const QString &text);
    void stopping();
    void stopped();

private:
    std::shared_ptr<PanelJob> job(const QString &panel, const SendRequest &request,
                                  const RichText &message) const;
    void submitTo(LineQueue *line, std::shared_ptr<PanelJob> job);
    void ended(const PanelJob &job, const JobResult &r);
    void written(const QString &path, const QString &why);
    void lineIdle();

    ServerConfig m_config;
    ServiceClock &m_clock;
    PortFactory m_ports;
    StateWriter m_writer;
    HistoryStore m_history;
    AgendaHooks *m_agenda = nullptr;
    QHash<QString, LineQueue *> m_lines; // by name; fixed once started
    QHash<QString, QString> m_shown;     // by panel: the text it was last given
    QMap<QString, qint64> m_sendCounts;  // by result word
    QMap<QString, QString> m_warnings;   // by file
    QStringList m_startNotes;
    QList<QPair<QString, std::function<QJsonValue()>>> m_states;
    QList<std::function<QStringList()>> m_doorWarnings;
    bool m_stopping = false;
    bool m_stoppingLines = false; // until every line has been told
    bool m_stoppedSaid = false;
};
