#pragma once

#include "mqttclient.h"
#include "seenmessages.h"

#include <QHash>
#include <QList>
#include <QString>

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

// The MQTT messages taken from the broker and not yet over, in a file
// (`mqtt-pendentes.json`, one JSON record a line) that only grows until it
// is rewritten small. libmosquitto acknowledges a message before handing
// it over, so a message is written here on the network thread before its
// callback returns: a kill can then lose at most the one between the
// acknowledgement and that write. Each write reaches the disk with the next
// fsync, which a thread of its own makes once for everything written since
// the last one (a burst costs one fsync, not one per message). A message
// that asked for an answer stays until the broker has acknowledged that
// answer, which is written here first: a kill with answers still in the
// library's queue loses none of them.
class MqttJournal
{
public:
    struct Entry {
        quint64 id = 0;
        MqttClient::Message message;
        // When it may no longer start (UTC milliseconds); 0: never too late.
        qint64 expiresMs = 0;
        // Its answer, once given and until the broker has it: a start after a
        // kill publishes this again instead of running the message again.
        QByteArray answer;
    };

    // `bound`: the most messages a start takes back (the newest), as the
    // lines' queues hold no more.
    MqttJournal(QString path, int bound);
    ~MqttJournal();
    MqttJournal(const MqttJournal &) = delete;
    MqttJournal &operator=(const MqttJournal &) = delete;

    // What a run before left undone, oldest first. Records it cannot read
    // (a disk that failed mid-line) are counted in `damaged` and skipped:
    // the rest is kept. False when the file cannot be written.
    bool open(QList<Entry> *left, int *damaged, QString *error);
    // Any thread. Nothing for a message this session has seen already.
    std::optional<Entry> add(const MqttClient::Message &m, qint64 nowMs, qint64 maxAgeMs);
    // The message has run and this is its answer, still to reach the broker.
    void answered(quint64 id, const QByteArray &answer);
    // The message is over (its answer with the broker, or none to give).
    // Any thread.
    void finish(quint64 id);
    // The broker kept no session: its packet ids start over.
    void newSession();
    // Blocks until everything written so far is on the disk.
    void sync();
    // How many times the journal has gone to the disk: once for a burst of
    // records, never while nothing is written.
    quint64 syncs() const;
    // Why the last write or sync failed (full disk, permissions), in
    // Portuguese; empty once one succeeded again. Any thread.
    QString failure() const;

private:
    static QByteArray recordOf(const Entry &e, const QByteArray &key);
    void append(const QByteArray &record); // with m_mutex held
    void syncLoop();
    void rewrite(); // with m_mutex held: the pending entries only
    void failed(int error); // with m_mutex held
    void failed(const QString &why);

    QString m_path;
    int m_bound;
    int m_fd = -1;
    qint64 m_size = 0;
    quint64 m_nextId = 1;
    std::map<quint64, std::pair<Entry, QByteArray>> m_pending; // id → entry, key
    SeenMessages m_seen;
    mutable std::mutex m_mutex;
    QString m_failure;
    std::condition_variable m_wake, m_synced;
    quint64 m_written = 0, m_durable = 0; // records written, and synced
    quint64 m_syncs = 0;
    bool m_quit = false;
    std::thread m_syncer;
};
