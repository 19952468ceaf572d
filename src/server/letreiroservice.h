#pragma once

#include "panelcommands.h"
#include "panelport.h"
#include "serverconfig.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QObject>

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

    QJsonArray panelsJson() const;
    QJsonArray historyJson() const;
    // Where the relay of a line listens (after start), for the tests.
    quint16 relayPort(const QString &line) const;

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
                const CommandOutcome &outcome);
    void serveRelay(const QString &line);
    void loadHistory();
    void saveHistory() const;

    ServerConfig m_config;
    QHash<QString, Line> m_lines;
    QHash<QString, Record> m_last; // by panel
    std::deque<Record> m_history;
};
