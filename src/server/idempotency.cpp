#include "idempotency.h"

IdempotencyCache::IdempotencyCache(Clock clock, int capacity)
    : m_clock(std::move(clock)), m_capacity(capacity)
{
}

int IdempotencyCache::size() const
{
    const std::lock_guard lock(m_mutex);
    return int(m_entries.size());
}

void IdempotencyCache::forgetOld(qint64 now)
{
    while (!m_order.empty() &&
           (now - m_order.front().first >= kLifetimeMs || int(m_order.size()) >= m_capacity)) {
        m_entries.remove(m_order.front().second);
        m_order.pop_front();
    }
}

IdempotencyCache::Answer IdempotencyCache::run(const QString &key,
                                               const std::function<Answer()> &work)
{
    if (key.isEmpty()) return work();
    std::shared_ptr<Entry> entry;
    {
        std::unique_lock lock(m_mutex);
        forgetOld(m_clock());
        if (const auto it = m_entries.constFind(key); it != m_entries.constEnd()) {
            // Held here: a repeat keeps its entry even if it is forgotten meanwhile.
            const std::shared_ptr<Entry> first = *it;
            m_finished.wait(lock, [&] { return first->done; });
            return first->answer;
        }
        entry = std::make_shared<Entry>();
        m_entries.insert(key, entry);
        m_order.emplace_back(m_clock(), key);
    }
    // Whatever happens to the work, those waiting for it are let go.
    Answer answer{500, {}};
    try {
        answer = work();
    } catch (...) {
        finish(entry, answer);
        throw;
    }
    finish(entry, answer);
    return answer;
}

void IdempotencyCache::runLater(const QString &key, const std::function<void(Done)> &work,
                                const Done &then)
{
    if (key.isEmpty()) return work(then);
    std::shared_ptr<Entry> entry;
    {
        std::unique_lock lock(m_mutex);
        forgetOld(m_clock());
        if (const auto it = m_entries.constFind(key); it != m_entries.constEnd()) {
            const std::shared_ptr<Entry> first = *it;
            if (!first->done) return first->waiting.push_back(then);
            const Answer answer = first->answer;
            lock.unlock();
            return then(answer);
        }
        entry = std::make_shared<Entry>();
        m_entries.insert(key, entry);
        m_order.emplace_back(m_clock(), key);
    }
    work([this, entry, then](const Answer &answer) {
        finish(entry, answer);
        then(answer);
    });
}

void IdempotencyCache::finish(const std::shared_ptr<Entry> &entry, const Answer &answer)
{
    std::vector<Done> waiting;
    {
        const std::lock_guard lock(m_mutex);
        entry->answer = answer;
        entry->done = true;
        waiting.swap(entry->waiting);
        m_finished.notify_all();
    }
    for (const Done &d : waiting)
        d(answer);
}
