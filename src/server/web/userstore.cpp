#include "userstore.h"

#include "logging.h"
#include "randombits.h"
#include "wholefile.h"

#include <algorithm>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPasswordDigestor>

namespace
{

constexpr int kIterations = 60000;

QByteArray derive(const QString &password, const QByteArray &salt, int iterations)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt,
                                              iterations, 32);
}

// Equal in a time that does not depend on where they differ.
bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size()) return false;
    unsigned char d = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        d |= uchar(a[i] ^ b[i]);
    return d == 0;
}

} // namespace

bool UserStore::load(QString *error)
{
    QMutexLocker lock(&m_mutex);
    return read(error);
}

QStringList UserStore::reloadIfChanged()
{
    QMutexLocker lock(&m_mutex);
    if (fileVersion() == m_version) return {};
    const QHash<QString, Password> before = m_passwords;
    QString why;
    if (!read(&why)) {
        qCWarning(lcHttp, "%s; os usuários ficam como estavam", qUtf8Printable(why));
        return {};
    }
    QStringList changed;
    for (auto it = before.begin(); it != before.end(); ++it)
        if (!m_passwords.contains(it.key()) || m_passwords.value(it.key()).hash != it->hash)
            changed.append(it.key());
    return changed;
}

QByteArray UserStore::fileVersion() const
{
    // A save renames a new file over the old one: its change time moves.
    const QFileInfo f(m_path);
    if (!f.exists()) return QByteArrayLiteral("-");
    return QByteArray::number(f.size()) + ' ' +
           QByteArray::number(f.lastModified().toMSecsSinceEpoch()) + ' ' +
           QByteArray::number(f.metadataChangeTime().toMSecsSinceEpoch());
}

// The whole file anew, replacing what was known; nothing changes when it
// cannot be read or is not the store's JSON.
bool UserStore::read(QString *error)
{
    m_version = fileVersion();
    QFile f(m_path);
    if (!QFileInfo::exists(m_path)) {
        m_passwords.clear();
        m_tokens.clear();
        return true;
    }
    QJsonParseError parsed{};
    const QJsonDocument d = f.open(QIODevice::ReadOnly)
                                ? QJsonDocument::fromJson(f.read(4 << 20), &parsed)
                                : QJsonDocument();
    if (!f.isOpen() || parsed.error != QJsonParseError::NoError || !d.isObject()) {
        *error = QStringLiteral("não foi possível ler %1").arg(m_path);
        return false;
    }
    const QJsonObject o = d.object();
    QHash<QString, Password> passwords;
    const QJsonObject users = o.value(QStringLiteral("usuarios")).toObject();
    for (auto it = users.begin(); it != users.end(); ++it) {
        const QJsonObject u = it.value().toObject();
        passwords.insert(
            it.key(), {QByteArray::fromHex(u.value(QStringLiteral("sal")).toString().toLatin1()),
                       QByteArray::fromHex(u.value(QStringLiteral("hash")).toString().toLatin1()),
                       u.value(QStringLiteral("iteracoes")).toInt(),
                       {u.value(QStringLiteral("sitios")).toVariant().toStringList(),
                        u.value(QStringLiteral("leitura")).toBool()}});
    }
    m_passwords = std::move(passwords);
    QHash<QByteArray, Token> tokens;
    const QJsonObject t = o.value(QStringLiteral("tokens")).toObject();
    for (auto it = t.begin(); it != t.end(); ++it) {
        const QJsonObject j = it.value().toObject();
        Token token;
        if (it.value().isString()) {
            // An older file's token: its user only, taken as made under the
            // password the user has now.
            token.user = token.name = it.value().toString();
            token.under = fingerprint(token.user);
        } else {
            token.user = j.value(QStringLiteral("usuario")).toString();
            token.name = j.value(QStringLiteral("nome")).toString();
            token.made = QDateTime::fromString(j.value(QStringLiteral("feito")).toString(), Qt::ISODate);
            token.expires =
                QDateTime::fromString(j.value(QStringLiteral("expira")).toString(), Qt::ISODate);
            token.under = j.value(QStringLiteral("senha")).toString().toLatin1();
        }
        tokens.insert(it.key().toLatin1(), token);
    }
    m_tokens = std::move(tokens);
    return true;
}

bool UserStore::save(QString *error) const
{
    QJsonObject users, tokens;
    for (auto it = m_passwords.begin(); it != m_passwords.end(); ++it) {
        QJsonObject u{{QStringLiteral("sal"), QString::fromLatin1(it->salt.toHex())},
                      {QStringLiteral("hash"), QString::fromLatin1(it->hash.toHex())},
                      {QStringLiteral("iteracoes"), it->iterations}};
        if (!it->access.sites.isEmpty())
            u.insert(QStringLiteral("sitios"), QJsonArray::fromStringList(it->access.sites));
        if (it->access.readOnly) u.insert(QStringLiteral("leitura"), true);
        users.insert(it.key(), u);
    }
    for (auto it = m_tokens.begin(); it != m_tokens.end(); ++it) {
        QJsonObject t{{QStringLiteral("usuario"), it->user},
                      {QStringLiteral("nome"), it->name},
                      {QStringLiteral("feito"), it->made.toString(Qt::ISODate)},
                      {QStringLiteral("senha"), QString::fromLatin1(it->under)}};
        if (it->expires.isValid())
            t.insert(QStringLiteral("expira"), it->expires.toString(Qt::ISODate));
        tokens.insert(QString::fromLatin1(it.key()), t);
    }
    // The administrator adds users as root or as the service's user; either
    // way the file is the service's to read, and no one else's.
    wholefile::Options secret;
    secret.toFolderOwner = true;
    const Result<> saved =
        wholefile::write(m_path,
                         QJsonDocument(QJsonObject{{QStringLiteral("usuarios"), users},
                                                   {QStringLiteral("tokens"), tokens}})
                             .toJson(),
                         secret);
    if (!saved) {
        *error = QStringLiteral("não foi possível gravar %1: %2").arg(m_path, saved.why());
        return false;
    }
    return true;
}

UserStore::Access UserStore::access(const QString &user) const
{
    QMutexLocker lock(&m_mutex);
    return m_passwords.value(user).access;
}

bool UserStore::setAccess(const QString &user, const Access &access, QString *error)
{
    QMutexLocker lock(&m_mutex);
    if (!m_passwords.contains(user)) {
        *error = QStringLiteral("usuário desconhecido: %1 (dê uma senha antes)").arg(user);
        return false;
    }
    const Access before = m_passwords[user].access;
    m_passwords[user].access = access;
    if (save(error)) return true;
    m_passwords[user].access = before;
    return false;
}

bool UserStore::setPassword(const QString &user, const QString &password, QString *error)
{
    if (user.isEmpty() || password.isEmpty()) {
        *error = QStringLiteral("usuário e senha não podem ficar vazios");
        return false;
    }
    QMutexLocker lock(&m_mutex);
    const QByteArray salt = randomBytes(16);
    // A new password keeps what the user may reach.
    const Access access = m_passwords.value(user).access;
    m_passwords.insert(user, {salt, derive(password, salt, kIterations), kIterations, access});
    return save(error);
}

QByteArray UserStore::fingerprint(const QString &user) const
{
    const auto it = m_passwords.constFind(user);
    if (it == m_passwords.constEnd()) return {};
    return QCryptographicHash::hash(it->salt + it->hash, QCryptographicHash::Sha256).toHex().left(16);
}

bool UserStore::alive(const Token &t) const
{
    return fingerprint(t.user) == t.under &&
           (!t.expires.isValid() || QDateTime::currentDateTimeUtc() < t.expires);
}

QString UserStore::newToken(const QString &user, QString *error, QString name,
                            const QDateTime &expires)
{
    if (user.isEmpty()) {
        *error = QStringLiteral("o token precisa de um usuário");
        return {};
    }
    QMutexLocker lock(&m_mutex);
    QStringList names;
    for (const Token &t : std::as_const(m_tokens))
        names.append(t.name);
    if (name.isEmpty()) {
        name = user;
        for (int n = 2; names.contains(name); ++n)
            name = QStringLiteral("%1-%2").arg(user).arg(n);
    } else if (names.contains(name)) {
        *error = QStringLiteral("já existe um token chamado %1").arg(name);
        return {};
    }
    const QByteArray secret = randomHex256();
    m_tokens.insert(QCryptographicHash::hash(secret, QCryptographicHash::Sha256).toHex(),
                    {user, name, QDateTime::currentDateTimeUtc(), expires.toUTC(),
                     fingerprint(user)});
    if (!save(error)) return {};
    return QString::fromLatin1(secret);
}

QList<UserStore::TokenInfo> UserStore::tokens() const
{
    QMutexLocker lock(&m_mutex);
    QList<TokenInfo> out;
    for (const Token &t : std::as_const(m_tokens))
        out.append({t.user, t.name, t.made, t.expires, m_used.value(t.name), alive(t)});
    std::sort(out.begin(), out.end(),
              [](const TokenInfo &a, const TokenInfo &b) { return a.name < b.name; });
    return out;
}

bool UserStore::revokeToken(const QString &name, QString *error)
{
    QMutexLocker lock(&m_mutex);
    for (auto it = m_tokens.begin(); it != m_tokens.end(); ++it) {
        if (it->name != name) continue;
        m_tokens.erase(it);
        return save(error);
    }
    *error = QStringLiteral("não há token chamado %1").arg(name);
    return false;
}

QString UserStore::usagePath() const
{
    return QFileInfo(m_path).absoluteDir().filePath(QStringLiteral("tokens-uso.json"));
}

QByteArray UserStore::usageJson() const
{
    QMutexLocker lock(&m_mutex);
    QJsonObject o;
    for (auto it = m_used.cbegin(); it != m_used.cend(); ++it)
        o.insert(it.key(), it.value().toString(Qt::ISODate));
    m_usedChanged = false;
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool UserStore::usageChanged() const
{
    QMutexLocker lock(&m_mutex);
    return m_usedChanged;
}

void UserStore::setUsage(const QByteArray &json)
{
    const QJsonObject o = QJsonDocument::fromJson(json).object();
    QMutexLocker lock(&m_mutex);
    for (auto it = o.begin(); it != o.end(); ++it)
        m_used.insert(it.key(), QDateTime::fromString(it.value().toString(), Qt::ISODate));
}

QString UserStore::checkPassword(const QString &user, const QString &password) const
{
    Password p;
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_passwords.constFind(user);
        if (it == m_passwords.constEnd()) {
            // As slow as a known user, so that names cannot be told apart.
            derive(password, QByteArrayLiteral("letreiro-ninguem"), kIterations);
            return {};
        }
        p = *it;
    }
    return sameBytes(derive(password, p.salt, p.iterations), p.hash) ? user : QString();
}

QString UserStore::checkToken(const QString &token) const
{
    const QByteArray hash =
        QCryptographicHash::hash(token.toLatin1(), QCryptographicHash::Sha256).toHex();
    QMutexLocker lock(&m_mutex);
    const auto it = m_tokens.constFind(hash);
    if (it == m_tokens.constEnd() || !alive(*it)) return {};
    // To the minute: enough to tell a token in use from one forgotten.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QDateTime &used = m_used[it->name];
    if (!used.isValid() || used.secsTo(now) >= 60) {
        used = now;
        m_usedChanged = true;
    }
    return it->user;
}
