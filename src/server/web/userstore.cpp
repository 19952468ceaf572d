#include "userstore.h"

#include "logging.h"
#include "randombits.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPasswordDigestor>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// The administrator adds users as root or as the service's user; either way
// the file is the service's to read: root gives it to the owner of its
// folder (the service's state folder).
void giveToFolderOwner(QSaveFile &f, const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat folder;
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::geteuid() != 0 || ::stat(dir.constData(), &folder) != 0) return;
    [[maybe_unused]] const int r = ::fchown(f.handle(), folder.st_uid, folder.st_gid);
#else
    Q_UNUSED(f);
    Q_UNUSED(path);
#endif
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
                       u.value(QStringLiteral("iteracoes")).toInt()});
    }
    QHash<QByteArray, QString> tokens;
    const QJsonObject t = o.value(QStringLiteral("tokens")).toObject();
    for (auto it = t.begin(); it != t.end(); ++it)
        tokens.insert(it.key().toLatin1(), it.value().toString());
    m_passwords = std::move(passwords);
    m_tokens = std::move(tokens);
    return true;
}

bool UserStore::save(QString *error) const
{
    QJsonObject users, tokens;
    for (auto it = m_passwords.begin(); it != m_passwords.end(); ++it)
        users.insert(it.key(),
                     QJsonObject{{QStringLiteral("sal"), QString::fromLatin1(it->salt.toHex())},
                                 {QStringLiteral("hash"), QString::fromLatin1(it->hash.toHex())},
                                 {QStringLiteral("iteracoes"), it->iterations}});
    for (auto it = m_tokens.begin(); it != m_tokens.end(); ++it)
        tokens.insert(QString::fromLatin1(it.key()), it.value());
    QSaveFile f(m_path);
    if (!f.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("não foi possível gravar %1").arg(m_path);
        return false;
    }
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    giveToFolderOwner(f, m_path);
    f.write(QJsonDocument(QJsonObject{{QStringLiteral("usuarios"), users},
                                      {QStringLiteral("tokens"), tokens}})
                .toJson());
    if (!f.commit()) {
        *error = QStringLiteral("não foi possível gravar %1").arg(m_path);
        return false;
    }
    return true;
}

bool UserStore::setPassword(const QString &user, const QString &password, QString *error)
{
    if (user.isEmpty() || password.isEmpty()) {
        *error = QStringLiteral("usuário e senha não podem ficar vazios");
        return false;
    }
    QMutexLocker lock(&m_mutex);
    const QByteArray salt = randomBytes(16);
    m_passwords.insert(user, {salt, derive(password, salt, kIterations), kIterations});
    return save(error);
}

QString UserStore::newToken(const QString &user, QString *error)
{
    QMutexLocker lock(&m_mutex);
    const QByteArray token = randomHex256();
    m_tokens.insert(QCryptographicHash::hash(token, QCryptographicHash::Sha256).toHex(), user);
    if (!save(error)) return {};
    return QString::fromLatin1(token);
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
    return m_tokens.value(hash);
}
