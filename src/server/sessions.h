#pragma once

#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>

// Who is signed in to the page, and which addresses guess passwords: the
// HTTP threads share it. A session lasts twelve hours; five wrong logins
// from one address within a minute shut that address out for a minute.
class Sessions
{
public:
    // A new session for the user: its id (256 random bits), for the cookie.
    QString open(const QString &user);
    // The user of a live session, or empty.
    QString user(const QString &id) const;
    void close(const QString &id);

    bool blocked(const QString &address);
    void failed(const QString &address);

private:
    struct Session {
        QString user;
        qint64 expiresMs;
    };

    mutable QMutex m_mutex;
    QHash<QString, Session> m_sessions;
    QHash<QString, QList<qint64>> m_failures; // by address, ms of each wrong login
};
