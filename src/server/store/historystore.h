#pragma once

#include "serviceclock.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QString>

#include <deque>
#include <mutex>

class StateWriter;

// What happened on the lines: the last kKept exchanges and notes that fit
// in the file's bytes, each panel's last outcome, kept across restarts.
// Written off the answering thread by the state writer, one record per line
// of a JSON array, so that a file cut or damaged on disk still gives back
// every line that reads.
class HistoryStore
{
public:
    static constexpr int kKept = 500;
    static constexpr qint64 kMaxBytes = 8 * 1024 * 1024;
    // A record is a line of a log, not the message itself: longer texts are
    // cut, so that one record never takes the room of hundreds.
    static constexpr int kMaxTextChars = 4096;

    struct Record {
        QDateTime when;
        QString who, panel, what;
        QString outcome; // enviado, falhou, substituído, expirado, recusado, parando
        QString reason;  // "motivo": why it was not sent
        bool ok = false;
    };

    HistoryStore(QString path, StateWriter &writer, qint64 maxBytes = kMaxBytes);

    // Takes the newest records the file holds, within the bounds. A file too
    // big or damaged gives what can be read and a note that says so (in
    // Portuguese); otherwise the note is empty.
    QString load();
    // Into the history (kept to its size) and, with a panel, its last outcome.
    void add(const Record &r);
    QJsonArray json() const;
    // The panel's last outcome, or nothing.
    const Record *last(const QString &panel) const;

private:
    struct Kept {
        Record record;
        QByteArray line; // as written in the file
    };

    // A record cut to its bounds, with its line for the file.
    static Kept serialize(Record r);
    // Adds the newest record, dropping the oldest beyond the bounds; locked.
    void append(Kept k);
    QByteArray serialized() const;

    QString m_path;
    StateWriter &m_writer;
    const qint64 m_maxBytes;
    mutable std::mutex m_mutex; // the writer's thread reads the records too
    std::deque<Kept> m_records;
    qint64 m_bytes = 0;            // the records' lines with their separators
    QHash<QString, Record> m_last; // by panel; this thread only
};
