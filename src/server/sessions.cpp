#include "sessions.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <algorithm>

namespace
{
constexpr qint64 kSessionMs = 12 * 3600 * 1000;
constexpr qint64 kMinuteMs = 60 * 1000;
constexpr int kMaxFailures = 5;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}
} // namespace

QString Sessions::open(const QString &user)
{
    QByteArray id(32, Qt::Uninitialized);
    QRandomGenerator::system()->generate(reinterpret_cast<quint32 *>(id.data()),
                                         reinterpret_cast<quint32 *>(id.data() + id.size()));
    const QString sid = QString::fromLatin1(id.toHex());
    QMutexLocker lock(&m_mutex);
    m_sessions.insert(sid, {user, nowMs() + kSessionMs});
    return sid;
}

QString Sessions::user(const QString &id) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_sessions.constFind(id);
    return it != m_sessions.constEnd() && it->expiresMs > nowMs() ? it->user : QString();
}

void Sessions::close(const QString &id)
{
    QMutexLocker lock(&m_mutex);
    m_sessions.remove(id);
}

bool Sessions::blocked(const QString &address)
{
    QMutexLocker lock(&m_mutex);
    QList<qint64> &f = m_failures[address];
    const qint64 now = nowMs();
    f.erase(std::remove_if(f.begin(), f.end(), [now](qint64 t) { return now - t > kMinuteMs; }),
            f.end());
    return f.size() >= kMaxFailures;
}

void Sessions::failed(const QString &address)
{
    QMutexLocker lock(&m_mutex);
    m_failures[address].append(nowMs());
}
