#include "agendarunner.h"

#include "logging.h"
#include "messagefile.h"
#include "serviceclock.h"
#include "statewriter.h"
#include "wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace
{
// A look just after the minute turns, not just before it.
constexpr qint64 kAfterTheMinuteMs = 250;
} // namespace

AgendaRunner::AgendaRunner(LetreiroService &service, QObject *parent)
    : QObject(parent), m_service(service), m_config(service.config()), m_clock(service.clock()),
      m_writer(service.stateWriter()),
      m_scheduler(QTimeZone::systemTimeZone(), [&clock = m_clock] { return clock.now().toUTC(); })
{
    m_service.setAgenda(this);
}

AgendaRunner::~AgendaRunner()
{
    m_service.setAgenda(nullptr);
}

QString AgendaRunner::start()
{
    QList<ScheduleEntry> entries = m_config.schedule;
    QString note;
    const QFileInfo file(m_config.scheduleFile);
    if (file.exists() || file.isSymLink()) {
        QString why;
        const SmallFileRead f = messagefile::readSmallFile(m_config.scheduleFile,
                                                           ServerConfig::kMaxScheduleBytes, true);
        const auto editable = f.ok ? m_config.parseSchedule(f.data, &why) : std::nullopt;
        if (editable)
            entries += *editable;
        else
            note = setAside(f.ok ? why : f.error);
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
    run(m_scheduler.start(covered));
    saveState();
    lookAgain();
    return note;
}

QString AgendaRunner::setAside(const QString &why)
{
    // Kept for the operator to mend, out of the way of the next start and
    // of the agenda saved meanwhile; rename(2) replaces an older one.
    const QString aside = m_config.scheduleFile + QStringLiteral(".invalida");
    const bool moved = std::rename(QFile::encodeName(m_config.scheduleFile).constData(),
                                   QFile::encodeName(aside).constData()) == 0;
    return QStringLiteral("a agenda %1 não pôde ser lida (%2): %3; valem só as entradas da "
                          "configuração")
        .arg(m_config.scheduleFile, why,
             moved ? QStringLiteral("movida para %1").arg(aside)
                   : QStringLiteral("não foi possível movê-la para %1").arg(aside));
}

void AgendaRunner::lookAgain()
{
    m_clock.after(m_scheduler.msUntilNextMinute() + kAfterTheMinuteMs, this, [this] { check(); });
}

void AgendaRunner::check()
{
    if (m_stopped) return;
    const QDateTime before = m_scheduler.covered();
    run(m_scheduler.poll());
    if (m_scheduler.covered() != before) saveState();
    lookAgain();
}

void AgendaRunner::run(const QList<ScheduledRun> &runs)
{
    for (const ScheduledRun &run : runs) {
        if (run.entry < 0) {
            m_service.record(QStringLiteral("agenda"), {}, run.note, true);
            continue;
        }
        const ScheduleEntry &e = m_scheduler.entries().at(run.entry);
        const QString who = QStringLiteral("agenda %1").arg(e.name);
        if (!run.note.isEmpty()) m_service.record(who, e.value, run.note, true);
        if (!run.skipped) send(e, who);
    }
}

void AgendaRunner::send(const ScheduleEntry &e, const QString &who)
{
    SendRequest request;
    request.kind = e.action == ScheduleEntry::Action::Text      ? SendRequest::Kind::Text
                   : e.action == ScheduleEntry::Action::Message ? SendRequest::Kind::Message
                                                                : SendRequest::Kind::Command;
    request.panels = e.panels;
    request.value = e.value;
    request.who = who;
    // What never reached a line is said here: the lines record the rest.
    m_service.send(request, [this, who, value = e.value](const SendResult &r) {
        if (r.end != SendEnd::Refused || r.refusal == SendResult::Refusal::Full) return;
        qCWarning(lcAgenda, "%s: %s", qUtf8Printable(who), qUtf8Printable(r.reason));
        m_service.record(who, value, r.reason, false);
    });
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

Result<> AgendaRunner::setEditable(const QList<ScheduleEntry> &editable)
{
    QString why;
    if (!m_config.checkSchedule(editable, &why)) return Failure::invalid(why);
    if (const QString tooBig = ServerConfig::scheduleTooBig(editable); !tooBig.isEmpty())
        return Failure::tooLarge(tooBig);
    // The operator waits for this one: it is written before the answer.
    QDir().mkpath(QFileInfo(m_config.scheduleFile).absolutePath());
    // The operator reads and mends it by hand too.
    wholefile::Options asConfig;
    asConfig.mode = 0644;
    if (const Result<> saved = wholefile::write(
            m_config.scheduleFile, ServerConfig::scheduleText(editable), asConfig);
        !saved)
        return saved;
    m_scheduler.setEntries(m_config.schedule + editable);
    return {};
}
