#include "sessions.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <iterator>

namespace
{
constexpr qint64 kSessionMs = 12 * 3600 * 1000;

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

void Sessions::endUsers(const QStringList &users)
{
    QMutexLocker lock(&m_mutex);
    for (auto it = m_sessions.begin(); it != m_sessions.end();)
        it = users.contains(it->user) ? m_sessions.erase(it) : std::next(it);
}
