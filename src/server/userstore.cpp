#include "userstore.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPasswordDigestor>
#include <QRandomGenerator>
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

QByteArray randomBytes(int n)
{
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator::system()->generate(reinterpret_cast<quint32 *>(b.data()),
                                         reinterpret_cast<quint32 *>(b.data() + n));
    return b;
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
    QFile f(m_path);
    if (!QFileInfo::exists(m_path)) return true;
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("não foi possível ler %1").arg(m_path);
        return false;
    }
    const QJsonObject o = QJsonDocument::fromJson(f.read(4 << 20)).object();
    const QJsonObject users = o.value(QStringLiteral("usuarios")).toObject();
    for (auto it = users.begin(); it != users.end(); ++it) {
        const QJsonObject u = it.value().toObject();
        m_passwords.insert(
            it.key(), {QByteArray::fromHex(u.value(QStringLiteral("sal")).toString().toLatin1()),
                       QByteArray::fromHex(u.value(QStringLiteral("hash")).toString().toLatin1()),
                       u.value(QStringLiteral("iteracoes")).toInt()});
    }
    const QJsonObject tokens = o.value(QStringLiteral("tokens")).toObject();
    for (auto it = tokens.begin(); it != tokens.end(); ++it)
        m_tokens.insert(it.key().toLatin1(), it.value().toString());
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
    const QByteArray token = randomBytes(32).toHex();
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
