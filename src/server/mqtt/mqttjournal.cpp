#include "mqttjournal.h"

#include "logging.h"
#include "wholefile.h"
#include "writeall.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <unistd.h>

namespace
{
// A file this much larger than what it still holds is rewritten small.
constexpr qint64 kRewriteAbove = 1 << 20;

QByteArray keyOf(const MqttClient::Message &m)
{
    return QCryptographicHash::hash(QByteArray::number(m.mid) + '\0' + m.topic.toUtf8() + '\0' +
                                        m.payload + (m.oversized ? "\1" : "\0"),
                                    QCryptographicHash::Sha256)
        .left(16)
        .toHex();
}

QString b64(const QByteArray &b)
{
    return QString::fromLatin1(b.toBase64());
}

QByteArray unb64(const QJsonValue &v)
{
    return QByteArray::fromBase64(v.toString().toLatin1());
}

MqttJournal::Entry entryOf(const QJsonObject &o)
{
    MqttJournal::Entry e;
    e.id = quint64(o.value(QStringLiteral("n")).toInteger());
    e.expiresMs = o.value(QStringLiteral("x")).toInteger();
    MqttClient::Message &m = e.message;
    m.mid = o.value(QStringLiteral("m")).toInt();
    m.topic = o.value(QStringLiteral("t")).toString();
    m.payload = unb64(o.value(QStringLiteral("p")));
    m.retained = o.value(QStringLiteral("r")).toBool();
    m.oversized = o.value(QStringLiteral("g")).toBool();
    m.responseTopic = o.value(QStringLiteral("rt")).toString();
    m.correlation = unb64(o.value(QStringLiteral("c")));
    e.answer = o.value(QStringLiteral("a")).toString().toUtf8();
    return e;
}
} // namespace

MqttJournal::MqttJournal(QString path, int bound) : m_path(std::move(path)), m_bound(bound) {}

MqttJournal::~MqttJournal()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_syncer.joinable()) m_syncer.join();
    if (m_fd >= 0) {
        syncData(m_fd);
        ::close(m_fd);
    }
}

QByteArray MqttJournal::recordOf(const Entry &e, const QByteArray &key)
{
    const MqttClient::Message &m = e.message;
    QJsonObject o{
        {QStringLiteral("n"), qint64(e.id)}, {QStringLiteral("k"), QString::fromLatin1(key)},
        {QStringLiteral("m"), m.mid},        {QStringLiteral("t"), m.topic},
        {QStringLiteral("p"), b64(m.payload)}};
    if (e.expiresMs) o.insert(QStringLiteral("x"), e.expiresMs);
    if (m.retained) o.insert(QStringLiteral("r"), true);
    if (m.oversized) o.insert(QStringLiteral("g"), true);
    if (!m.responseTopic.isEmpty()) o.insert(QStringLiteral("rt"), m.responseTopic);
    if (!m.correlation.isEmpty()) o.insert(QStringLiteral("c"), b64(m.correlation));
    if (!e.answer.isEmpty()) o.insert(QStringLiteral("a"), QString::fromUtf8(e.answer));
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

bool MqttJournal::open(QList<Entry> *left, int *damaged, QString *error)
{
    *damaged = 0;
    QFile f(m_path);
    if (f.open(QIODevice::ReadOnly)) {
        while (!f.atEnd()) {
            const QByteArray line = f.readLine(4 * MqttClient::kMaxPayload).trimmed();
            if (line.isEmpty()) continue;
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.contains(QStringLiteral("fim"))) {
                m_pending.erase(quint64(o.value(QStringLiteral("fim")).toInteger()));
            } else if (o.contains(QStringLiteral("resposta"))) {
                const auto it = m_pending.find(quint64(o.value(QStringLiteral("resposta")).toInteger()));
                if (it != m_pending.end())
                    it->second.first.answer = o.value(QStringLiteral("a")).toString().toUtf8();
            } else if (o.contains(QStringLiteral("sessao"))) {
                m_seen.clear();
            } else if (o.contains(QStringLiteral("vistos"))) {
                for (const QJsonValue &k : o.value(QStringLiteral("vistos")).toArray())
                    m_seen.remember(k.toString().toLatin1());
            } else if (o.contains(QStringLiteral("n")) && o.contains(QStringLiteral("t"))) {
                const Entry e = entryOf(o);
                const QByteArray key = o.value(QStringLiteral("k")).toString().toLatin1();
                m_seen.remember(key);
                m_pending[e.id] = {e, key};
                m_nextId = std::max(m_nextId, e.id + 1);
            } else {
                ++*damaged;
            }
        }
        f.close();
    }
    // More than the lines take: the oldest go, the rest is kept.
    while (int(m_pending.size()) > m_bound)
        m_pending.erase(m_pending.begin());
    for (const auto &[id, entry] : m_pending)
        left->append(entry.first);
    std::lock_guard lock(m_mutex);
    rewrite();
    if (m_fd < 0) {
        *error = m_failure;
        return false;
    }
    m_syncer = std::thread([this] { syncLoop(); });
    return true;
}

void MqttJournal::rewrite()
{
    QByteArray all;
    QJsonArray seen;
    for (const QByteArray &k : m_seen.keys())
        seen.append(QString::fromLatin1(k));
    all += QJsonDocument(QJsonObject{{QStringLiteral("vistos"), seen}})
               .toJson(QJsonDocument::Compact) +
           '\n';
    for (const auto &[id, entry] : m_pending)
        all += recordOf(entry.first, entry.second);
    // Whole through the one atomic save; the old journal stays as it was
    // when that fails. Then opened again, to append to.
    if (const Result<> saved = wholefile::write(m_path, all); !saved) return failed(saved.why());
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return failed(wholefile::errnoWords(errno));
    m_failure.clear();
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
    m_size = all.size();
}

std::optional<MqttJournal::Entry> MqttJournal::add(const MqttClient::Message &m, qint64 nowMs,
                                                   qint64 maxAgeMs)
{
    const QByteArray key = keyOf(m);
    std::lock_guard lock(m_mutex);
    if (!m_seen.remember(key)) return std::nullopt;
    Entry e{m_nextId++, m, 0};
    if (m.expirySeconds >= 0)
        e.expiresMs = nowMs + m.expirySeconds * 1000;
    else if (maxAgeMs > 0)
        e.expiresMs = nowMs + maxAgeMs;
    m_pending[e.id] = {e, key};
    append(recordOf(e, key));
    return e;
}

void MqttJournal::answered(quint64 id, const QByteArray &answer)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_pending.find(id);
    if (it == m_pending.end()) return;
    it->second.first.answer = answer;
    append(QJsonDocument(QJsonObject{{QStringLiteral("resposta"), qint64(id)},
                                     {QStringLiteral("a"), QString::fromUtf8(answer)}})
               .toJson(QJsonDocument::Compact) +
           '\n');
}

void MqttJournal::finish(quint64 id)
{
    std::lock_guard lock(m_mutex);
    if (m_pending.erase(id) == 0) return;
    append(QByteArrayLiteral("{\"fim\":") + QByteArray::number(id) + "}\n");
}

void MqttJournal::newSession()
{
    std::lock_guard lock(m_mutex);
    m_seen.clear();
    append(QByteArrayLiteral("{\"sessao\":\"nova\"}\n"));
}

void MqttJournal::append(const QByteArray &record)
{
    if (m_fd < 0) return;
    // A write cut short (a full disk) leaves a damaged line that a start
    // skips; the records before and after it stay readable.
    if (!writeAll(m_fd, record)) failed(errno);
    m_size += record.size();
    ++m_written;
    m_wake.notify_one();
}

void MqttJournal::failed(int error)
{
    failed(wholefile::errnoWords(error));
}

void MqttJournal::failed(const QString &why)
{
    const QString before = m_failure;
    m_failure = QStringLiteral("não foi possível gravar o diário de mensagens %1: %2; uma "
                               "mensagem recebida agora pode se perder numa parada brusca")
                    .arg(m_path, why);
    if (m_failure != before) qCWarning(lcMqtt, "%s", qUtf8Printable(m_failure));
}

QString MqttJournal::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

void MqttJournal::sync()
{
    std::unique_lock lock(m_mutex);
    const quint64 target = m_written;
    m_wake.notify_one();
    m_synced.wait(lock, [&] { return m_durable >= target || m_quit; });
}

quint64 MqttJournal::syncs() const
{
    std::lock_guard lock(m_mutex);
    return m_syncs;
}

void MqttJournal::syncLoop()
{
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        m_wake.wait(lock, [this] { return m_quit || m_written != m_durable; });
        const quint64 target = m_written;
        if (m_size > kRewriteAbove && m_pending.size() < 64) {
            rewrite();
        } else {
            const int fd = m_fd;
            // The network thread goes on writing meanwhile; what it writes
            // goes with the next fsync.
            lock.unlock();
            const bool synced = syncData(fd) == 0;
            const int error = errno;
            lock.lock();
            if (!synced) failed(error);
        }
        m_durable = target;
        ++m_syncs;
        m_synced.notify_all();
    }
}
