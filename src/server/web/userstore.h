#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

// Who may use the service: users with a password, scripts with a token.
// Neither is ever kept in clear: a password as PBKDF2-SHA256 with a salt of
// its own, a token (random, 256 bits) as its SHA-256. The file is JSON,
// written atomically, readable by the service's user only.
class UserStore
{
public:
    explicit UserStore(QString path) : m_path(std::move(path)) {}

    // False with the reason when the file exists but cannot be read.
    bool load(QString *error);
    // Reads the file again when it changed since it was last read (another
    // process set a password or a token): the users whose password changed
    // or who are gone, whose sessions must end.
    QStringList reloadIfChanged();
    bool setPassword(const QString &user, const QString &password, QString *error);
    // A new token for the user, printed once; only its hash is kept.
    QString newToken(const QString &user, QString *error);

    // The user the password or token belongs to, or an empty string. Safe
    // from any thread.
    QString checkPassword(const QString &user, const QString &password) const;
    QString checkToken(const QString &token) const;

private:
    bool save(QString *error) const;
    bool read(QString *error);
    QByteArray fileVersion() const;

    struct Password {
        QByteArray salt;
        QByteArray hash;
        int iterations = 0;
    };
    QString m_path;
    mutable QMutex m_mutex;
    QHash<QString, Password> m_passwords;
    QHash<QByteArray, QString> m_tokens; // hex SHA-256 -> user
    QByteArray m_version;                // the file's inode, size and time when read
};
