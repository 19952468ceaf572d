#include "historystore.h"

#include "statewriter.h"
#include "wholefile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>
#include <optional>
#include <vector>

namespace
{
// "[\n" before the records and "]\n" after them; each record is its line
// and ",\n", the last one "\n": one byte less, taken off here so that a
// file of exactly the bound is kept whole.
constexpr qint64 kFrameBytes = 4 - 1;
constexpr qint64 kSeparatorBytes = 2;

QJsonObject recordJson(const HistoryStore::Record &r)
{
    QJsonObject o{{QStringLiteral("quando"), isoWithOffset(r.when)},
                  {QStringLiteral("quem"), r.who},
                  {QStringLiteral("painel"), r.panel},
                  {QStringLiteral("o_que"), r.what},
                  {QStringLiteral("resultado"), r.outcome},
                  {QStringLiteral("ok"), r.ok}};
    if (!r.reason.isEmpty()) o.insert(QStringLiteral("motivo"), r.reason);
    return o;
}

HistoryStore::Record fromJson(const QJsonObject &o)
{
    return {QDateTime::fromString(o.value(QStringLiteral("quando")).toString(), Qt::ISODate),
            o.value(QStringLiteral("quem")).toString(),
            o.value(QStringLiteral("painel")).toString(),
            o.value(QStringLiteral("o_que")).toString(),
            o.value(QStringLiteral("resultado")).toString(),
            o.value(QStringLiteral("motivo")).toString(),
            o.value(QStringLiteral("ok")).toBool()};
}

void cut(QString &text)
{
    if (text.size() <= HistoryStore::kMaxTextChars) return;
    qsizetype n = HistoryStore::kMaxTextChars - 1;
    if (text.at(n - 1).isHighSurrogate()) --n; // never half a character
    text = text.left(n) + QChar(0x2026);
}

// One record of the file, or nothing for a damaged one; empty for the
// array's own marks around the records ("[", "]" and ",").
std::optional<QJsonObject> recordOf(QByteArray line)
{
    line = line.trimmed();
    while (line.startsWith('['))
        line.remove(0, 1);
    while (line.endsWith(',') || line.endsWith(']'))
        line.chop(1);
    if (line.isEmpty()) return QJsonObject();
    QJsonParseError e{};
    const QJsonDocument d = QJsonDocument::fromJson(line, &e);
    if (e.error != QJsonParseError::NoError || !d.isObject()) return std::nullopt;
    return d.object();
}
} // namespace

HistoryStore::HistoryStore(QString path, StateWriter &writer, qint64 maxBytes)
    : m_path(std::move(path)), m_writer(writer), m_maxBytes(maxBytes)
{
}

HistoryStore::Kept HistoryStore::serialize(Record r)
{
    for (QString *text : {&r.who, &r.panel, &r.what, &r.outcome, &r.reason})
        cut(*text);
    QByteArray line = QJsonDocument(recordJson(r)).toJson(QJsonDocument::Compact);
    return {std::move(r), std::move(line)};
}

QString HistoryStore::load()
{
    const QFileInfo info(m_path);
    if (!info.exists()) return {};
    // Not a FIFO or a device: opening one could hold the start forever.
    QFile f(m_path);
    // Set aside, not written over: whoever looks may still get it back.
    if (!info.isFile() || !f.open(QIODevice::ReadOnly))
        return wholefile::setAside(m_path, info.isFile() ? f.errorString()
                                                         : QStringLiteral("não é um arquivo")) +
               QStringLiteral("; o histórico começa vazio");
    // Room for the bound and as much again: an older file, bounded only by
    // its count, still loads whole.
    const qint64 window = 2 * m_maxBytes;
    const bool tail = f.size() > window;
    if (tail) f.seek(f.size() - window);
    const QByteArray data = f.read(window);

    // The newest first, until the count or the bytes are reached.
    std::vector<Kept> newestFirst;
    qint64 bytes = kFrameBytes;
    int damaged = 0;
    const auto take = [&](const QJsonObject &o) {
        Kept k = serialize(fromJson(o));
        bytes += k.line.size() + kSeparatorBytes;
        if (newestFirst.size() >= size_t(kKept) || (bytes > m_maxBytes && !newestFirst.empty()))
            return false;
        newestFirst.push_back(std::move(k));
        return true;
    };
    QJsonParseError e{};
    const QJsonDocument whole = tail ? QJsonDocument() : QJsonDocument::fromJson(data, &e);
    if (!tail && e.error == QJsonParseError::NoError && whole.isArray()) {
        // Whole, in this form or in the older one (the array on one line).
        const QJsonArray all = whole.array();
        for (qsizetype i = all.size() - 1; i >= 0; --i)
            if (!all[i].isObject())
                ++damaged;
            else if (!take(all[i].toObject()))
                break;
    } else {
        // Piece by piece from the end: a record starts a line, or at "{\""
        // (never inside a string, where a quote is always escaped), which
        // also parts the older form's single line.
        const QByteArray start = QByteArrayLiteral("{\"");
        // Reading began inside a record when only the end was read.
        const qsizetype first = !tail                  ? 0
                                : data.contains(start) ? data.indexOf(start)
                                                       : data.size();
        qsizetype end = data.size();
        while (end > first) {
            const qsizetype from = std::max(
                {first, data.lastIndexOf('\n', end - 1), data.lastIndexOf(start, end - 1)});
            const auto o = recordOf(data.mid(from, end - from));
            end = from;
            if (!o)
                ++damaged;
            else if (!o->isEmpty() && !take(*o))
                break;
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = newestFirst.rbegin(); it != newestFirst.rend(); ++it) {
        if (!it->record.panel.isEmpty()) m_last.insert(it->record.panel, it->record);
        append(std::move(*it));
    }
    QStringList why;
    if (f.size() > m_maxBytes)
        why.append(QStringLiteral("grande demais (%1 bytes, o limite é %2)%3")
                       .arg(f.size())
                       .arg(m_maxBytes)
                       .arg(tail ? QStringLiteral(", lido só o fim") : QString()));
    if (damaged) why.append(QStringLiteral("%1 trechos danificados ignorados").arg(damaged));
    if (why.isEmpty()) return {};
    // What could not be read stays in a file of its own.
    const QString aside =
        damaged ? QStringLiteral("; ") + wholefile::setAside(m_path, QStringLiteral("danificado"))
                : QString();
    return QStringLiteral("histórico %1: %2; recuperadas as %3 entradas mais recentes%4")
        .arg(m_path, why.join(QStringLiteral("; ")), QString::number(m_records.size()), aside);
}

void HistoryStore::append(Kept k)
{
    m_bytes += k.line.size() + kSeparatorBytes;
    m_records.push_back(std::move(k));
    // The newest stays, even alone beyond the bytes.
    while (m_records.size() > size_t(kKept) ||
           (m_records.size() > 1 && m_bytes + kFrameBytes > m_maxBytes)) {
        m_bytes -= m_records.front().line.size() + kSeparatorBytes;
        m_records.pop_front();
    }
}

void HistoryStore::add(const Record &r)
{
    {
        Kept k = serialize(r);
        std::lock_guard<std::mutex> lock(m_mutex);
        append(std::move(k));
    }
    if (!r.panel.isEmpty()) m_last.insert(r.panel, r);
    m_writer.save(m_path, [this] { return serialized(); });
}

QByteArray HistoryStore::serialized() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QByteArray out;
    out.reserve(m_bytes + kFrameBytes);
    out += "[\n";
    for (const Kept &k : m_records) {
        out += k.line;
        out += &k == &m_records.back() ? "\n" : ",\n";
    }
    out += "]\n";
    return out;
}

QJsonArray HistoryStore::json() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QJsonArray out;
    for (const Kept &k : m_records)
        out.append(recordJson(k.record));
    return out;
}

const HistoryStore::Record *HistoryStore::last(const QString &panel) const
{
    const auto it = m_last.constFind(panel);
    return it == m_last.constEnd() ? nullptr : &*it;
}
