#pragma once

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QString>

#include <deque>
#include <mutex>

class StateWriter;

// A moment as the history, the API and MQTT write it: ISO 8601 with the
// offset from UTC, so that it reads the same in any time zone.
inline QString isoWithOffset(const QDateTime &t)
{
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

// What happened on the lines: the last kKept exchanges and notes, each
// panel's last outcome, kept across restarts. Written off the answering
// thread by the state writer.
class HistoryStore
{
public:
    static constexpr int kKept = 500;

    struct Record {
        QDateTime when;
        QString who, panel, what, outcome;
        bool ok = false;
    };

    HistoryStore(QString path, StateWriter &writer);

    void load();
    // Into the history (kept to its size) and, with a panel, its last outcome.
    void add(const Record &r);
    QJsonArray json() const;
    // The panel's last outcome, or nothing.
    const Record *last(const QString &panel) const;

private:
    QByteArray serialized() const;

    QString m_path;
    StateWriter &m_writer;
    mutable std::mutex m_mutex; // the writer's thread reads the records too
    std::deque<Record> m_records;
    QHash<QString, Record> m_last; // by panel; this thread only
};
