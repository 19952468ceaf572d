#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

// Who may use the service: users with a password, scripts with a token.
// Neither is ever kept in clear: a password as PBKDF2-SHA256 with a salt of
// its own, a token (random, 256 bits) as its SHA-256. The file is JSON,
// written atomically, readable by the service's user only.
//
// A token acts as a user, has a name of its own, may have an expiry, and
// ends when its user's password changes or the user is removed (it keeps a
// fingerprint of the password it was made under), or when revoked by name.
class UserStore
{
public:
    explicit UserStore(QString path) : m_path(std::move(path)) {}
    // Where the service keeps when each token was last used: beside the
    // users file, which only `--usuario` and the token options write.
    QString usagePath() const;

    // False with the reason when the file exists but cannot be read.
    bool load(QString *error);
    // Reads the file again when it changed since it was last read (another
    // process set a password or a token): the users whose password changed
    // or who are gone, whose sessions must end.
    QStringList reloadIfChanged();
    bool setPassword(const QString &user, const QString &password, QString *error);
    // A new token for the user, printed once; only its hash is kept. `name`
    // tells it apart (the user's name when empty, then "-2", "-3"…);
    // `expires`, if valid, ends it.
    QString newToken(const QString &user, QString *error, QString name = {},
                     const QDateTime &expires = {});

    struct TokenInfo {
        QString user, name;
        QDateTime made, expires, lastUsed;
        bool alive = true; // false: expired, or its user's password changed or is gone
    };
    // Every token, never its secret; `lastUsed` as the service last kept it.
    QList<TokenInfo> tokens() const;
    // Ends the token of that name; false when there is none.
    bool revokeToken(const QString &name, QString *error);

    // What a user may reach at the head office: `sites` (site or group
    // names; empty: every site) and whether only to read. Kept in the users
    // file beside the password; safe from any thread.
    struct Access {
        QStringList sites;
        bool readOnly = false;
    };
    Access access(const QString &user) const;
    bool setAccess(const QString &user, const Access &access, QString *error);

    // The user the password or token belongs to, or an empty string. Safe
    // from any thread.
    QString checkPassword(const QString &user, const QString &password) const;
    // A token also counts as used now (see usageJson).
    QString checkToken(const QString &token) const;
    // When each token was last used, by name, for the service to keep in a
    // file of its own (the users file is never written by the service).
    QByteArray usageJson() const;
    bool usageChanged() const;
    // Reads back what usageJson() wrote, for tokens().
    void setUsage(const QByteArray &json);

private:
    bool save(QString *error) const;
    bool read(QString *error);
    QByteArray fileVersion() const;

    struct Password {
        QByteArray salt;
        QByteArray hash;
        int iterations = 0;
        Access access;
    };
    struct Token {
        QString user, name;
        QDateTime made, expires;
        QByteArray under; // the fingerprint of the user's password then; empty: none
    };
    QByteArray fingerprint(const QString &user) const; // with m_mutex held
    bool alive(const Token &t) const;                   // with m_mutex held
    QString m_path;
    mutable QMutex m_mutex;
    QHash<QString, Password> m_passwords;
    QHash<QByteArray, Token> m_tokens; // by the hex SHA-256 of the secret
    mutable QHash<QString, QDateTime> m_used; // by token name
    mutable bool m_usedChanged = false;
    QByteArray m_version;                // the file's inode, size and time when read
};
