#include "schedule.h"

#include "logging.h"

#include <algorithm>

namespace
{
constexpr int kLongestHold = 3 * 3600; // beyond it a clock set back restarts the agenda
constexpr int kLookBackDays = 7;

const QStringList &weekdayNames()
{
    static const QStringList names = {
        QStringLiteral("seg"), QStringLiteral("ter"), QStringLiteral("qua"), QStringLiteral("qui"),
        QStringLiteral("sex"), QStringLiteral("sab"), QStringLiteral("dom")};
    return names;
}

// A local wall time held as a plain value, so that comparing two of them
// compares what the clock on the wall showed.
QDateTime wall(const QDate &day, const QTime &time)
{
    return QDateTime(day, QTime(time.hour(), time.minute()), QTimeZone::utc());
}

QString hhmm(const QDateTime &t)
{
    return t.toString(QStringLiteral("HH:mm"));
}
} // namespace

const QList<PanelCommand> &panelCommands()
{
    static const QList<PanelCommand> table = {{QStringLiteral("para"), 'P', false},
                                              {QStringLiteral("inicia"), 'I', false},
                                              {QStringLiteral("apaga"), 'A', false},
                                              {QStringLiteral("hora"), 'R', true},
                                              {QStringLiteral("data"), 'D', true}};
    return table;
}

const PanelCommand *panelCommand(const QString &name)
{
    for (const PanelCommand &c : panelCommands())
        if (c.name == name) return &c;
    return nullptr;
}

bool hasHiddenCharacter(QStringView name)
{
    for (qsizetype i = 0; i < name.size(); ++i) {
        char32_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(name[i], name[i + 1]);
            ++i;
        }
        if (logging::isInvisible(c)) return true;
    }
    return false;
}

bool isMessageName(const QString &name)
{
    // A file name's bytes, as the file system bounds them.
    return !name.isEmpty() && name.toUtf8().size() <= 255 && !hasHiddenCharacter(name) &&
           name.endsWith(QLatin1String(".msg")) && !name.startsWith(u'.') && !name.contains(u'/') &&
           !name.contains(u'\\');
}

bool ScheduleEntry::set(const QString &key, const QString &v, QString *error)
{
    const auto invalid = [&](const QString &what) {
        *error = QStringLiteral("%1 inválido: \"%2\" (%3)").arg(key, v, what);
        return false;
    };
    if (key == QLatin1String("quando")) {
        at = QTime::fromString(v, QStringLiteral("H:mm"));
        if (!at.isValid()) return invalid(QStringLiteral("use HH:MM"));
    } else if (key == QLatin1String("dias")) {
        weekdays.clear();
        for (QString d : v.split(u',')) {
            d = d.trimmed().toLower().replace(QChar(0xE1), u'a'); // "sáb"
            const int i = int(weekdayNames().indexOf(d));
            if (i < 0) return invalid(QStringLiteral("dias: seg, ter, qua, qui, sex, sab, dom"));
            if (!weekdays.contains(i + 1)) weekdays.append(i + 1);
        }
    } else if (key == QLatin1String("datas")) {
        const QStringList ends = v.split(QStringLiteral(".."));
        firstDate = QDate::fromString(ends.first().trimmed(), Qt::ISODate);
        lastDate = QDate::fromString(ends.last().trimmed(), Qt::ISODate);
        if (ends.size() > 2 || !firstDate.isValid() || !lastDate.isValid() || lastDate < firstDate)
            return invalid(QStringLiteral("use AAAA-MM-DD..AAAA-MM-DD"));
    } else if (key == QLatin1String("paineis")) {
        panels.clear();
        if (v != QLatin1String("todos"))
            for (const QString &p : v.split(u',')) {
                if (p.trimmed().isEmpty()) return invalid(QStringLiteral("um nome vazio"));
                panels.append(p.trimmed());
            }
    } else if (key == QLatin1String("texto") || key == QLatin1String("mensagem") ||
               key == QLatin1String("comando")) {
        if (!value.isEmpty()) {
            *error = QStringLiteral("só um de texto, mensagem ou comando");
            return false;
        }
        action = key == QLatin1String("texto")      ? Action::Text
                 : key == QLatin1String("mensagem") ? Action::Message
                                                    : Action::Command;
        if (action == Action::Message && !isMessageName(v))
            return invalid(QStringLiteral("um arquivo .msg da pasta de mensagens"));
        if (action == Action::Command && !panelCommand(v))
            return invalid(QStringLiteral("para, inicia, apaga, hora ou data"));
        if (v.isEmpty()) return invalid(QStringLiteral("vazio"));
        if (std::any_of(v.cbegin(), v.cend(), [](QChar c) { return c.unicode() < 0x20; }))
            return invalid(QStringLiteral("uma quebra de linha ou outro caractere de controle"));
        value = v;
    } else {
        *error = QStringLiteral("chave desconhecida: %1").arg(key);
        return false;
    }
    return true;
}

bool ScheduleEntry::complete(QString *error) const
{
    if (!at.isValid())
        *error = QStringLiteral("a agenda %1 não tem quando").arg(name);
    else if (value.isEmpty())
        *error = QStringLiteral("a agenda %1 não tem texto, mensagem nem comando").arg(name);
    else
        return true;
    return false;
}

QList<QPair<QString, QString>> ScheduleEntry::keys() const
{
    QList<QPair<QString, QString>> out{
        {QStringLiteral("quando"), at.toString(QStringLiteral("HH:mm"))}};
    if (!weekdays.isEmpty()) {
        QStringList days;
        for (const int d : weekdays)
            days.append(weekdayNames().at(d - 1));
        out.append({QStringLiteral("dias"), days.join(u',')});
    }
    if (firstDate.isValid())
        out.append({QStringLiteral("datas"), firstDate.toString(Qt::ISODate) +
                                                 QStringLiteral("..") +
                                                 lastDate.toString(Qt::ISODate)});
    out.append({QStringLiteral("paineis"),
                panels.isEmpty() ? QStringLiteral("todos") : panels.join(u',')});
    out.append({action == Action::Text      ? QStringLiteral("texto")
                : action == Action::Message ? QStringLiteral("mensagem")
                                            : QStringLiteral("comando"),
                value});
    return out;
}

QJsonObject ScheduleEntry::toJson() const
{
    QJsonObject o{{QStringLiteral("nome"), name}, {QStringLiteral("fixa"), fixed}};
    for (const auto &[key, value] : keys())
        o.insert(key, value);
    return o;
}

std::optional<ScheduleEntry> ScheduleEntry::fromJson(const QJsonObject &o, QString *error)
{
    ScheduleEntry e;
    const QString name = o.value(QStringLiteral("nome")).toString();
    // Refused, not turned into spaces: the name the client keeps would not
    // be the agenda's.
    if (hasHiddenCharacter(name)) {
        *error =
            QStringLiteral("nome de agenda inválido (sem caracteres de controle ou invisíveis)");
        return std::nullopt;
    }
    e.name = name.simplified();
    // The name heads an INI section: none of its own marks in it.
    if (e.name.isEmpty() || std::any_of(e.name.cbegin(), e.name.cend(), [](QChar c) {
            return QStringLiteral("[];#\"").contains(c);
        })) {
        *error = QStringLiteral("nome de agenda inválido (sem [ ] ; # \")");
        return std::nullopt;
    }
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (it.key() == QLatin1String("nome") || it.key() == QLatin1String("fixa")) continue;
        if (!it.value().isString()) {
            *error = QStringLiteral("%1 deve ser um texto").arg(it.key());
            return std::nullopt;
        }
        if (!e.set(it.key(), it.value().toString(), error)) return std::nullopt;
    }
    return e;
}

bool ScheduleEntry::runsOn(const QDate &day) const
{
    if (firstDate.isValid() && (day < firstDate || day > lastDate)) return false;
    return weekdays.isEmpty() || weekdays.contains(day.dayOfWeek());
}

Scheduler::Scheduler(QTimeZone zone, Clock clock)
    : m_zone(std::move(zone)), m_clock(std::move(clock))
{
}

void Scheduler::setEntries(QList<ScheduleEntry> entries)
{
    m_entries = std::move(entries);
}

QDateTime Scheduler::wallNow() const
{
    const QDateTime local = m_clock().toTimeZone(m_zone);
    return wall(local.date(), local.time());
}

int Scheduler::msUntilNextMinute() const
{
    const qint64 ms = m_clock().toMSecsSinceEpoch();
    return int(60000 - ms % 60000);
}

QList<ScheduledRun> Scheduler::between(const QDateTime &from, const QDateTime &to) const
{
    QList<ScheduledRun> runs;
    for (int i = 0; i < m_entries.size(); ++i) {
        const ScheduleEntry &e = m_entries.at(i);
        // Each entry at most once, its latest occurrence: a long jump does
        // not replay a week of the same text.
        for (QDate d = to.date(); d >= to.date().addDays(-kLookBackDays) && d >= from.date();
             d = d.addDays(-1)) {
            const QDateTime due = wall(d, e.at);
            if (due > to || !e.runsOn(d)) continue;
            if (due > from) {
                ScheduledRun run{i, due, false, {}};
                const QDateTime zoned(d, e.at, m_zone);
                if (!zoned.isValid() || zoned.time() != e.at)
                    run.note =
                        QStringLiteral("%1 não existiu hoje (mudança de horário); executada às %2")
                            .arg(hhmm(due), hhmm(to));
                else if (due < to)
                    run.note =
                        QStringLiteral("atrasada: prevista para %1, executada às %2 (o relógio "
                                       "avançou ou o computador esteve suspenso)")
                            .arg(hhmm(due), hhmm(to));
                runs.append(run);
            }
            break;
        }
    }
    std::stable_sort(runs.begin(), runs.end(),
                     [](const ScheduledRun &a, const ScheduledRun &b) { return a.due < b.due; });
    return runs;
}

QList<ScheduledRun> Scheduler::start(const QDateTime &coveredBefore)
{
    const QDateTime now = wallNow();
    QList<ScheduledRun> runs;
    if (coveredBefore.isValid() && coveredBefore < now) {
        runs = between(coveredBefore, now);
        for (ScheduledRun &r : runs) {
            r.skipped = !m_entries.at(r.entry).isClockSync();
            r.note = r.skipped ? QStringLiteral("não executada às %1: o serviço estava parado")
                                     .arg(hhmm(r.due))
                               : QStringLiteral("perdida às %1 com o serviço parado; executada na "
                                                "partida")
                                     .arg(hhmm(r.due));
        }
    }
    m_covered = now;
    m_lastSeen = now;
    return runs;
}

QList<ScheduledRun> Scheduler::poll()
{
    const QDateTime now = wallNow();
    const QDateTime seen = std::exchange(m_lastSeen, now);
    if (!m_covered.isValid()) return start({});
    if (now > m_covered) return between(std::exchange(m_covered, now), now);
    if (now >= seen) return {};
    // The clock went back.
    if (now.secsTo(m_covered) > kLongestHold) {
        const QString note =
            QStringLiteral("o relógio voltou de %1 para %2: a agenda recomeça daqui")
                .arg(m_covered.toString(QStringLiteral("dd/MM HH:mm")),
                     now.toString(QStringLiteral("dd/MM HH:mm")));
        m_covered = now;
        return {ScheduledRun{-1, now, true, note}};
    }
    QList<ScheduledRun> held = between(now, m_covered);
    for (ScheduledRun &r : held) {
        r.skipped = true;
        r.note = QStringLiteral("não repetida às %1: o relógio voltou de %2 para %3")
                     .arg(hhmm(r.due), hhmm(seen), hhmm(now));
    }
    return held;
}
