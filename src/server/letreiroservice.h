#pragma once

#include "panelcommands.h"
#include "panelport.h"
#include "schedule.h"
#include "serverconfig.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

class QTcpServer;
class SerialPanelPort;

// The service's heart, on the main thread: it owns every line through its
// port worker and runs every request (web, API, relay clients) as one whole
// exchange at a time per line, in the order they came. It also keeps each
// panel's last outcome and the history of exchanges.
class LetreiroService : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void(const CommandOutcome &)>;

    explicit LetreiroService(ServerConfig config, QObject *parent = nullptr);
    ~LetreiroService() override;

    // Opens the lines and the relays; false with the reason when a relay
    // cannot listen.
    bool start(QString *error);
    const ServerConfig &config() const { return m_config; }

    // What a panel is told, by whom. `done` runs on this thread once the
    // exchange is over. False (and `done` not called) for a panel that does
    // not exist.
    bool sendText(const QString &panel, const QString &text, const QString &who, Done done);
    bool sendMessage(const QString &panel, const RichText &message, const QString &what,
                     const QString &who, Done done);
    // "para", "inicia", "apaga", "hora" or "data".
    bool sendCommand(const QString &panel, const QString &command, const QString &who, Done done);
    // The same to several panels (empty: every panel); a clock or date sync
    // goes once per line, since every panel on it hears it. False for a
    // panel or command that does not exist.
    // `allDone`, if given, runs once every exchange is over.
    bool sendToPanels(QStringList panels, ScheduleEntry::Action action, const QString &value,
                      const QString &who, std::function<void()> allDone = {});

    // The agenda: the configuration's entries (fixed) and the editable ones.
    QJsonArray scheduleJson() const;
    // Replaces the editable entries and keeps them in the agenda file.
    bool setSchedule(const QList<ScheduleEntry> &entries, QString *error);

    QJsonArray panelsJson() const;
    QJsonArray historyJson() const;
    // Where the relay of a line listens (after start), for the tests.
    quint16 relayPort(const QString &line) const;

Q_SIGNALS:
    // After each exchange with a configured panel: how it went and the
    // text the panel was last given.
    void exchanged(const QString &panel, bool ok, const QString &outcome, const QString &text);

private:
    struct Line {
        SerialPanelPort *port = nullptr;
        std::deque<Done> pending;
        QTcpServer *relay = nullptr;
    };
    struct Record {
        QDateTime when;
        QString who, panel, what, outcome;
        bool ok = false;
    };

    void submit(const QString &line, const LinkOptions &options, const PanelPort::Job &job,
                Done done);
    void record(const QString &panel, const QString &who, const QString &what,
                const CommandOutcome &outcome, const std::optional<QString> &shown = {});
    // A line of the history that is no exchange (an entry left out, late…).
    void note(const QString &who, const QString &what, const QString &text, bool ok = true);
    void remember(const Record &r); // into the history, kept to its size and saved
    void checkSchedule();
    void runScheduled(const QList<ScheduledRun> &runs);
    void saveScheduleState() const;
    void serveRelay(const QString &line);
    void loadHistory();
    void saveHistory() const;

    ServerConfig m_config;
    QHash<QString, Line> m_lines;
    QHash<QString, Record> m_last; // by panel
    std::deque<Record> m_history;
    QHash<QString, QString> m_shown; // by panel: the text it was last given
    Scheduler m_scheduler;
    QTimer m_scheduleTimer;
};
