#include "historystore.h"

#include "statewriter.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace
{
QJsonObject recordJson(const HistoryStore::Record &r)
{
    return {{QStringLiteral("quando"), isoWithOffset(r.when)},
            {QStringLiteral("quem"), r.who},
            {QStringLiteral("painel"), r.panel},
            {QStringLiteral("o_que"), r.what},
            {QStringLiteral("resultado"), r.outcome},
            {QStringLiteral("ok"), r.ok}};
}
} // namespace

HistoryStore::HistoryStore(QString path, StateWriter &writer)
    : m_path(std::move(path)), m_writer(writer)
{
}

void HistoryStore::load()
{
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly)) return;
    const QJsonArray all = QJsonDocument::fromJson(f.read(16 << 20)).array();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const QJsonValue &v : all) {
        const QJsonObject o = v.toObject();
        Record r{QDateTime::fromString(o.value(QStringLiteral("quando")).toString(), Qt::ISODate),
                 o.value(QStringLiteral("quem")).toString(),
                 o.value(QStringLiteral("painel")).toString(),
                 o.value(QStringLiteral("o_que")).toString(),
                 o.value(QStringLiteral("resultado")).toString(),
                 o.value(QStringLiteral("ok")).toBool()};
        m_records.push_back(r);
        if (!r.panel.isEmpty()) m_last.insert(r.panel, r);
    }
    while (m_records.size() > kKept)
        m_records.pop_front();
}

void HistoryStore::add(const Record &r)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_records.push_back(r);
        while (m_records.size() > kKept)
            m_records.pop_front();
    }
    if (!r.panel.isEmpty()) m_last.insert(r.panel, r);
    m_writer.save(m_path, [this] { return serialized(); });
}

QByteArray HistoryStore::serialized() const
{
    return QJsonDocument(json()).toJson(QJsonDocument::Compact);
}

QJsonArray HistoryStore::json() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QJsonArray out;
    for (const Record &r : m_records)
        out.append(recordJson(r));
    return out;
}

const HistoryStore::Record *HistoryStore::last(const QString &panel) const
{
    const auto it = m_last.constFind(panel);
    return it == m_last.constEnd() ? nullptr : &*it;
}
