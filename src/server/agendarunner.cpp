#include "agendarunner.h"

#include "messagefile.h"
#include "serviceclock.h"
#include "statewriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace
{
// A look just after the minute turns, not just before it.
constexpr qint64 kAfterTheMinuteMs = 250;
} // namespace

AgendaRunner::AgendaRunner(const ServerConfig &config, ServiceClock &clock, StateWriter &writer,
                           QObject *parent)
    : QObject(parent), m_config(config), m_clock(clock), m_writer(writer),
      m_scheduler(QTimeZone::systemTimeZone(), [&clock] { return clock.now().toUTC(); })
{
}

bool AgendaRunner::start(QString *error)
{
    QList<ScheduleEntry> entries = m_config.schedule;
    if (QFileInfo::exists(m_config.scheduleFile)) {
        const SmallFileRead f = messagefile::readSmallFile(m_config.scheduleFile, 1 << 20, false);
        const auto editable = f.ok ? m_config.parseSchedule(f.data, error) : std::nullopt;
        if (!editable) {
            *error = QStringLiteral("%1: %2").arg(m_config.scheduleFile, f.ok ? *error : f.error);
            return false;
        }
        entries += *editable;
    }
    m_scheduler.setEntries(entries);
    QFile state(m_config.scheduleStateFile);
    QDateTime covered;
    if (state.open(QIODevice::ReadOnly))
        covered = QDateTime::fromString(QJsonDocument::fromJson(state.read(4096))
                                            .object()
                                            .value(QStringLiteral("coberto"))
                                            .toString(),
                                        Qt::ISODate);
    take(m_scheduler.start(covered));
    saveState();
    lookAgain();
    return true;
}

void AgendaRunner::lookAgain()
{
    m_clock.after(m_scheduler.msUntilNextMinute() + kAfterTheMinuteMs, this, [this] { check(); });
}

void AgendaRunner::check()
{
    if (m_stopped) return;
    const QDateTime before = m_scheduler.covered();
    take(m_scheduler.poll());
    if (m_scheduler.covered() != before) saveState();
    lookAgain();
}

void AgendaRunner::take(const QList<ScheduledRun> &runs)
{
    for (const ScheduledRun &run : runs) {
        if (run.entry < 0) {
            Q_EMIT note(QStringLiteral("agenda"), {}, run.note);
            continue;
        }
        const ScheduleEntry &e = m_scheduler.entries().at(run.entry);
        const QString who = QStringLiteral("agenda %1").arg(e.name);
        if (!run.note.isEmpty()) Q_EMIT note(who, e.value, run.note);
        if (!run.skipped) Q_EMIT runEntry(e, who);
    }
}

void AgendaRunner::saveState()
{
    m_writer.save(m_config.scheduleStateFile,
                  QJsonDocument(QJsonObject{{QStringLiteral("coberto"),
                                             m_scheduler.covered().toString(Qt::ISODate)}})
                      .toJson(QJsonDocument::Compact));
}

QJsonArray AgendaRunner::json() const
{
    QJsonArray out;
    for (const ScheduleEntry &e : m_scheduler.entries())
        out.append(e.toJson());
    return out;
}

bool AgendaRunner::setEditable(const QList<ScheduleEntry> &editable, QString *error)
{
    if (!m_config.checkSchedule(editable, error)) return false;
    // The operator waits for this one: it is written before the answer.
    QDir().mkpath(QFileInfo(m_config.scheduleFile).absolutePath());
    const QString why =
        messagefile::saveFile(m_config.scheduleFile, ServerConfig::scheduleText(editable));
    if (!why.isEmpty()) {
        *error = why;
        return false;
    }
    m_scheduler.setEntries(m_config.schedule + editable);
    return true;
}
