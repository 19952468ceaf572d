// The agenda the page and the API edit: checked against the configuration
// it joins, and written back as its own file of [agenda NAME] sections.
#include "serverconfig.h"

bool ServerConfig::checkSchedule(const QList<ScheduleEntry> &entries, QString *error) const
{
    QStringList names;
    for (const ScheduleEntry &e : schedule)
        if (e.fixed) names.append(e.name);
    for (const ScheduleEntry &e : entries) {
        if (!e.complete(error)) return false;
        if (!e.fixed && names.contains(e.name)) {
            *error = QStringLiteral("a agenda %1 já existe").arg(e.name);
            return false;
        }
        if (!e.fixed) names.append(e.name);
        for (const QString &p : e.panels)
            if (!panel(p)) {
                *error = QStringLiteral("a agenda %1 cita um painel que não existe: \"%2\"")
                             .arg(e.name, p);
                return false;
            }
    }
    return true;
}

namespace
{
QString entryText(const ScheduleEntry &e)
{
    QString out = QStringLiteral("\n[agenda %1]\n").arg(e.name);
    for (auto [key, value] : e.keys()) {
        if (value.contains(u';') || value.contains(u'#') || value.contains(u'"') ||
            value != value.trimmed())
            value =
                u'"' +
                value.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\"")) +
                u'"';
        out += QStringLiteral("%1 = %2\n").arg(key, value);
    }
    return out;
}
} // namespace

QByteArray ServerConfig::scheduleText(const QList<ScheduleEntry> &entries)
{
    QString out =
        QStringLiteral("; A agenda editada pela página e pela API de letreiro-servidor.\n");
    for (const ScheduleEntry &e : entries)
        if (!e.fixed) out += entryText(e);
    return out.toUtf8();
}

QString ServerConfig::scheduleTooBig(const QList<ScheduleEntry> &entries)
{
    for (const ScheduleEntry &e : entries)
        if (!e.fixed && entryText(e).toUtf8().size() > kMaxScheduleEntryBytes)
            return QStringLiteral("a entrada %1 da agenda é grande demais (mais de %2 KB)")
                .arg(e.name)
                .arg(kMaxScheduleEntryBytes / 1024);
    if (scheduleText(entries).size() > kMaxScheduleBytes)
        return QStringLiteral("a agenda é grande demais (mais de %1 MB)")
            .arg(kMaxScheduleBytes / (1024 * 1024));
    return {};
}
