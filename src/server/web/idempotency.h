#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// One click, one send: a request that carries an `Idempotency-Key` already
// seen gets the first request's answer and does nothing again. A repeat
// that comes while the first is still at work (a double click) is answered
// when it is. Keys live ten minutes; at most `capacity` are kept, the oldest
// forgotten first, so memory stays bounded whatever clients send. The
// clock is injected for the tests.
class IdempotencyCache
{
public:
    struct Answer {
        int status = 0;
        QByteArray body;
    };
    using Clock = std::function<qint64()>; // milliseconds, never going back
    static constexpr qint64 kLifetimeMs = 10 * 60 * 1000;

    explicit IdempotencyCache(Clock clock, int capacity = 4096);

    // The answer of the first request with this key, or `work`'s, which runs
    // only for the first; nothing here ever waits. `work` gets `done`, to
    // call once, perhaps later; `then` gets the answer, at once for a key
    // already answered, or when the first request's work calls `done`. An
    // empty key is no key: `work` always runs.
    using Done = std::function<void(const Answer &)>;
    void runLater(const QString &key, const std::function<void(Done)> &work, const Done &then);
    int size() const;

private:
    struct Entry {
        bool done = false;
        Answer answer;
        std::vector<Done> waiting; // repeats that came while it worked, of runLater
    };
    void forgetOld(qint64 now);
    void finish(const std::shared_ptr<Entry> &entry, const Answer &answer);

    Clock m_clock;
    int m_capacity;
    mutable std::mutex m_mutex;
    QHash<QString, std::shared_ptr<Entry>> m_entries;
    std::deque<std::pair<qint64, QString>> m_order; // when each key came, oldest first
};
