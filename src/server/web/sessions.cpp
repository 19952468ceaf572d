#include "sessions.h"

#include "randombits.h"

#include <iterator>

namespace
{
// Ended sessions are looked for this often, on a login.
constexpr qint64 kSweepMs = 60 * 1000;
} // namespace

QString Sessions::open(const QString &user)
{
    const QString sid = QString::fromLatin1(randomHex256());
    QMutexLocker lock(&m_mutex);
    const qint64 now = m_clock();
    forgetEnded(now);
    // The user's oldest gives way beyond the bound.
    QString oldest;
    int count = 0;
    for (auto it = m_sessions.cbegin(); it != m_sessions.cend(); ++it) {
        if (it->user != user) continue;
        ++count;
        if (oldest.isEmpty() || it->order < m_sessions.value(oldest).order) oldest = it.key();
    }
    if (count >= kPerUser) m_sessions.remove(oldest);
    m_sessions.insert(sid, {user, ++m_opened, now + kLifetimeMs});
    return sid;
}

QString Sessions::user(const QString &id) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_sessions.constFind(id);
    return it != m_sessions.constEnd() && it->expiresMs > m_clock() ? it->user : QString();
}

void Sessions::close(const QString &id)
{
    QMutexLocker lock(&m_mutex);
    m_sessions.remove(id);
}

void Sessions::endUsers(const QStringList &users)
{
    QMutexLocker lock(&m_mutex);
    for (auto it = m_sessions.begin(); it != m_sessions.end();)
        it = users.contains(it->user) ? m_sessions.erase(it) : std::next(it);
}

int Sessions::size() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_sessions.size());
}

void Sessions::forgetEnded(qint64 now)
{
    if (now - m_lastSweep < kSweepMs) return;
    m_lastSweep = now;
    for (auto it = m_sessions.begin(); it != m_sessions.end();)
        it = it->expiresMs <= now ? m_sessions.erase(it) : std::next(it);
}
