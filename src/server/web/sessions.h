#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>

// Who is signed in to the page; any thread may ask. A session lasts twelve
// hours, or until its user's password changes or the user is removed.
// Ended sessions are forgotten, and a user keeps at most kPerUser at once
// (a new one ends that user's oldest), so logins cannot fill the memory.
class Sessions
{
public:
    static constexpr qint64 kLifetimeMs = 12 * 3600 * 1000;
    static constexpr int kPerUser = 32;
    // Milliseconds that never jump; from any thread.
    using Clock = std::function<qint64()>;
    explicit Sessions(Clock clock) : m_clock(std::move(clock)) {}

    // A new session for the user: its id (256 random bits), for the cookie.
    QString open(const QString &user);
    // The user of a live session, or empty.
    QString user(const QString &id) const;
    void close(const QString &id);

    // Ends every session of these users.
    void endUsers(const QStringList &users);
    int size() const;

private:
    struct Session {
        QString user;
        quint64 order; // the order of opening
        qint64 expiresMs;
    };
    void forgetEnded(qint64 now); // with m_mutex held

    Clock m_clock;
    mutable QMutex m_mutex;
    QHash<QString, Session> m_sessions;
    qint64 m_lastSweep = 0;
    quint64 m_opened = 0;
};
