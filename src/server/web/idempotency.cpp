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
    }
    for (const Done &d : waiting)
        d(answer);
}
