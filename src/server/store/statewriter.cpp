#include "statewriter.h"

#include "wholefile.h"
#include "threadhandoff.h"

#include <QDir>
#include <QFileInfo>

StateWriter::StateWriter(QObject *parent) : QObject(parent), m_thread([this] { run(); }) {}

StateWriter::~StateWriter()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void StateWriter::save(const QString &path, const QByteArray &bytes)
{
    save(path, [bytes] { return bytes; });
}

void StateWriter::save(const QString &path, Snapshot snapshot)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.insert(path, std::move(snapshot));
    }
    m_wake.notify_one();
}

void StateWriter::flush()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_drained.wait(lock, [this] { return m_pending.isEmpty() && !m_writing; });
}

void StateWriter::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || !m_pending.isEmpty(); });
        if (m_pending.isEmpty() && m_quit) return;
        const QHash<QString, Snapshot> batch = std::exchange(m_pending, {});
        m_writing = true;
        lock.unlock();
        for (auto it = batch.cbegin(); it != batch.cend(); ++it) {
            QDir().mkpath(QFileInfo(it.key()).absolutePath());
            const Result<> written = wholefile::write(it.key(), it.value()());
            const QString why = written ? QString() : written.why();
            // Said once when it starts failing, and once when it is mended.
            if (why.isEmpty() == !m_failing.value(it.key())) continue;
            m_failing.insert(it.key(), !why.isEmpty());
            const QString path = it.key();
            handoff::queue(this, [this, path, why] { Q_EMIT result(path, why); });
        }
        lock.lock();
        m_writing = false;
        m_drained.notify_all();
    }
}
