#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Writes the service's state files (the history, the agenda's state) on a
// thread of its own, so the thread that answers requests never
// waits for the disk. Only the newest content of each file counts: what is
// handed over while a batch is being written goes out together in the next
// one, each file saved atomically once per batch (one fsync), however many
// exchanges changed it meanwhile.
class StateWriter : public QObject
{
    Q_OBJECT
public:
    // Produces a file's content; runs on the writer's thread.
    using Snapshot = std::function<QByteArray()>;

    explicit StateWriter(QObject *parent = nullptr);
    // Writes what is still pending, then ends the thread.
    ~StateWriter() override;

    void save(const QString &path, const QByteArray &bytes);
    // For a file whose content is costly to make: made on the writer's
    // thread, at the moment it is written (the snapshot locks what it reads).
    void save(const QString &path, Snapshot snapshot);
    // Waits until everything handed over so far is on disk.
    void flush();

Q_SIGNALS:
    // On this object's thread: a file could not be written (why, in
    // Portuguese), or was written again after failing (empty why).
    void result(const QString &path, const QString &why);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake, m_drained;
    QHash<QString, Snapshot> m_pending;
    bool m_writing = false;
    bool m_quit = false;
    QHash<QString, bool> m_failing; // writer thread only
    std::thread m_thread;
};
