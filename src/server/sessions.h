#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

// Who is signed in to the page; any thread may ask. A session lasts twelve
// hours, or until its user's password changes or the user is removed.
class Sessions
{
public:
    // A new session for the user: its id (256 random bits), for the cookie.
    QString open(const QString &user);
    // The user of a live session, or empty.
    QString user(const QString &id) const;
    void close(const QString &id);

    // Ends every session of these users.
    void endUsers(const QStringList &users);

private:
    struct Session {
        QString user;
        qint64 expiresMs;
    };

    mutable QMutex m_mutex;
    QHash<QString, Session> m_sessions;
};
