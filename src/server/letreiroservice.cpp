#include "letreiroservice.h"

#include "agendarunner.h"
#include "flatten.h"
#include "linequeue.h"
#include "messagelibrary.h"
#include "panelport.h"
#include "relayserver.h"
#include "serviceclock.h"

namespace
{
std::unique_ptr<PanelPort> devicePort(const ServerConfig::Line &l)
{
    auto port = std::make_unique<SerialPanelPort>();
    QObject::connect(port.get(), &PanelPort::opened,
                     [name = l.name, device = l.device](bool ok, const QString &why) {
                         if (!ok)
                             qWarning("letreiro-servidor: linha %s (%s): %s", qPrintable(name),
                                      qPrintable(device), qPrintable(why));
                     });
    port->setReopenBeforeRequests(true);
    port->openDevice(l.device);
    return port;
}
} // namespace

LetreiroService::LetreiroService(ServerConfig config, ServiceClock *clock, PortFactory ports,
                                 QObject *parent)
    : QObject(parent), m_config(std::move(config)),
      m_clock(clock ? *clock : ServiceClock::system()),
      m_ports(ports ? std::move(ports) : PortFactory(devicePort)),
      m_history(m_config.historyFile, m_writer),
      m_agenda(new AgendaRunner(m_config, m_clock, m_writer, this))
{
    startNote(m_history.load());
    connect(&m_writer, &StateWriter::result, this, &LetreiroService::written);
    connect(m_agenda, &AgendaRunner::note, this,
            [this](const QString &who, const QString &what, const QString &text) {
                note(who, what, text);
            });
    connect(m_agenda, &AgendaRunner::runEntry, this,
            [this](const ScheduleEntry &e, const QString &who) {
                sendToPanels(e.panels, e.action, e.value, who);
            });
}

LetreiroService::~LetreiroService()
{
    // The lines first: their jobs still answer into the history.
    qDeleteAll(m_lines);
    m_lines.clear();
    m_writer.flush();
}

bool LetreiroService::start(QString *error)
{
    for (const ServerConfig::Line &l : m_config.lines) {
        auto *line = new LineQueue(l.name, m_ports(l), m_clock, this);
        m_lines.insert(l.name, line);
        connect(line, &LineQueue::exchanged, this, &LetreiroService::ended);
        connect(line, &LineQueue::idle, this, &LetreiroService::lineIdle);
        if (l.relayHost.isEmpty()) continue;
        auto *relay = new RelayServer(
            l.name, [this, line](PanelJobPtr job) { submitTo(line, std::move(job)); }, this);
        m_relays.insert(l.name, relay);
        if (!relay->allow(l.relayFrom, error) || !relay->listen(l.relayHost, l.relayPort, error))
            return false;
    }
    startNote(m_agenda->start());
    return true;
}

PanelJobPtr LetreiroService::panelJob(const QString &panel, PanelJob::Kind kind,
                                      const QString &what, const QString &who) const
{
    const ServerConfig::Panel *p = m_config.panel(panel);
    if (!p) return nullptr;
    auto job = std::make_shared<PanelJob>();
    job->kind = kind;
    job->who = who;
    job->panel = panel;
    job->what = what;
    job->address = qint16(p->address);
    job->options = LinkOptions{p->type, false};
    return job;
}

PanelJobPtr LetreiroService::textJob(const QString &panel, const QString &text,
                                     const QString &who) const
{
    // As `letreiro-cli transfere --texto` sends it.
    const RichText message = plainMessage(text);
    return messageJob(panel, message, message.plainText(), who);
}

PanelJobPtr LetreiroService::messageJob(const QString &panel, const RichText &message,
                                        const QString &what, const QString &who) const
{
    PanelJobPtr job = panelJob(panel, PanelJob::Kind::Text, what, who);
    if (!job) return nullptr;
    const QByteArray field = loadCommandField(message);
    const qint16 address = job->address;
    job->work = [address, field](PanelCommands &c) { return c.transfer(address, field); };
    job->shown = message.plainText();
    return job;
}

PanelJobPtr LetreiroService::commandJob(const QString &panel, const QString &name,
                                        const QString &who) const
{
    const PanelCommand *command = panelCommand(name);
    PanelJobPtr job = command ? panelJob(panel, PanelJob::Kind::Command, name, who) : nullptr;
    if (!job) return nullptr;
    const qint16 address = job->address;
    const char letter = command->letter;
    ServiceClock *clock = &m_clock;
    job->wholeLine = command->wholeLine;
    if (letter == 'R')
        job->work = [clock](PanelCommands &c) { return c.setClock(clock->now()); };
    else if (letter == 'D')
        job->work = [clock](PanelCommands &c) { return c.setDate(clock->now()); };
    else
        job->work = [address, letter](PanelCommands &c) { return c.letter(address, letter); };
    // A panel cleared shows nothing any more.
    if (letter == 'A') job->shown = QString();
    return job;
}

void LetreiroService::submit(PanelJobPtr job)
{
    const ServerConfig::Panel *p = m_config.panel(job->panel);
    submitTo(p ? m_lines.value(p->line) : nullptr, std::move(job));
}

void LetreiroService::submitTo(LineQueue *line, PanelJobPtr job)
{
    if (!line) {
        // Not started, or stopped and gone: nothing will ever run it.
        if (job->done) job->done(JobResult::unrun(JobResult::End::Stopping));
        return;
    }
    // Answers that never reached the wire go into the history too.
    PanelJob::Done done = std::move(job->done);
    job->done = [this, done, who = job->who, panel = job->panel,
                 what = job->what](const JobResult &r) {
        if (r.end != JobResult::End::Ran)
            m_history.add({m_clock.now(), who, panel, what, r.text(), false});
        if (done) done(r);
    };
    line->submit(std::move(job));
}

void LetreiroService::ended(const PanelJob &job, const JobResult &r)
{
    m_history.add({m_clock.now(), job.who, job.panel, job.what, r.text(), r.ok()});
    if (!m_config.panel(job.panel)) return; // a relayed frame, by address
    if (r.ok() && job.shown) m_shown.insert(job.panel, *job.shown);
    Q_EMIT exchanged(job.panel, r.ok(), r.text(), m_shown.value(job.panel));
}

void LetreiroService::note(const QString &who, const QString &what, const QString &text, bool ok)
{
    m_history.add({m_clock.now(), who, QString(), what, text, ok});
}

void LetreiroService::written(const QString &path, const QString &why)
{
    if (why.isEmpty()) {
        m_warnings.remove(path);
        qWarning("letreiro-servidor: %s gravado de novo", qPrintable(path));
        return;
    }
    const QString text = QStringLiteral("não foi possível gravar %1: %2").arg(path, why);
    m_warnings.insert(path, text);
    qWarning("letreiro-servidor: %s", qPrintable(text));
}

void LetreiroService::startNote(const QString &text)
{
    if (text.isEmpty()) return;
    m_startNotes.append(text);
    qWarning("letreiro-servidor: %s", qPrintable(text));
}

bool LetreiroService::sendToPanels(QStringList panels, ScheduleEntry::Action action,
                                   const QString &value, const QString &who,
                                   std::function<void(bool)> allDone)
{
    if (panels.isEmpty())
        for (const ServerConfig::Panel &p : m_config.panels)
            panels.append(p.name);
    for (const QString &name : panels)
        if (!m_config.panel(name)) return false;
    const PanelCommand *command =
        action == ScheduleEntry::Action::Command ? panelCommand(value) : nullptr;
    if (action == ScheduleEntry::Action::Command && !command) return false;
    RichText message;
    if (action == ScheduleEntry::Action::Message) {
        RtfReadResult r = MessageLibrary(m_config.messagesFolder).message(value);
        if (!r.ok) {
            note(who, value,
                 r.error.isEmpty() ? QStringLiteral("nome de mensagem inválido") : r.error, false);
            if (allDone) allDone(false);
            return true;
        }
        message = std::move(r.text);
    }
    QList<PanelJobPtr> jobs;
    QStringList lines; // a sync reaches every panel of its line at once
    for (const QString &name : panels) {
        const QString line = m_config.panel(name)->line;
        if (command && command->wholeLine && lines.contains(line)) continue;
        lines.append(line);
        jobs.append(action == ScheduleEntry::Action::Text ? textJob(name, value, who)
                    : action == ScheduleEntry::Action::Message
                        ? messageJob(name, message, value, who)
                        : commandJob(name, value, who));
    }
    // One count for the jobs under way; the last one out calls allDone.
    struct Count {
        qsizetype left;
        bool interrupted = false;
    };
    auto count = std::make_shared<Count>(Count{jobs.size()});
    if (jobs.isEmpty() && allDone) allDone(false);
    for (const PanelJobPtr &job : jobs) {
        job->done = [count, allDone](const JobResult &r) {
            count->interrupted |= r.end == JobResult::End::Stopping;
            if (--count->left == 0 && allDone) allDone(count->interrupted);
        };
        submit(job);
    }
    return true;
}

QJsonArray LetreiroService::scheduleJson() const
{
    return m_agenda->json();
}

bool LetreiroService::setSchedule(const QList<ScheduleEntry> &entries, QString *error)
{
    return m_agenda->setEditable(entries, error);
}

QJsonArray LetreiroService::panelsJson() const
{
    QJsonArray out;
    for (const ServerConfig::Panel &p : m_config.panels) {
        QJsonObject o{{QStringLiteral("nome"), p.name},
                      {QStringLiteral("linha"), p.line},
                      {QStringLiteral("endereco"), p.address},
                      {QStringLiteral("tipo"), p.type}};
        const HistoryStore::Record *last = m_history.last(p.name);
        o.insert(QStringLiteral("ultimo"),
                 !last ? QJsonValue()
                       : QJsonObject{{QStringLiteral("quando"), isoWithOffset(last->when)},
                                     {QStringLiteral("ok"), last->ok},
                                     {QStringLiteral("resultado"), last->outcome}});
        out.append(o);
    }
    return out;
}

QJsonObject LetreiroService::stateJson() const
{
    QJsonArray lines;
    for (const ServerConfig::Line &l : m_config.lines) {
        const LineQueue *q = m_lines.value(l.name);
        lines.append(QJsonObject{{QStringLiteral("nome"), l.name},
                                 {QStringLiteral("porta"), l.device},
                                 {QStringLiteral("fila"), q ? q->waiting() : 0},
                                 {QStringLiteral("ocupada"), q && !q->isIdle()}});
    }
    return {{QStringLiteral("versao"), QStringLiteral("%1.%2.%3")
                                           .arg(LETREIRO_VERSION_MAJOR)
                                           .arg(LETREIRO_VERSION_MINOR)
                                           .arg(LETREIRO_VERSION_PATCH)},
            {QStringLiteral("linhas"), lines},
            {QStringLiteral("avisos"), QJsonArray::fromStringList(warnings())}};
}

bool LetreiroService::isHealthy() const
{
    return std::none_of(m_lines.cbegin(), m_lines.cend(),
                        [](const LineQueue *q) { return q->isStuck(); });
}

quint16 LetreiroService::relayPort(const QString &line) const
{
    const RelayServer *relay = m_relays.value(line);
    return relay ? relay->port() : 0;
}

void LetreiroService::stop()
{
    if (m_stopping) return;
    m_stopping = true;
    m_agenda->stop();
    for (RelayServer *relay : std::as_const(m_relays))
        relay->stop();
    m_stoppingLines = true;
    for (LineQueue *line : std::as_const(m_lines))
        line->stop();
    m_stoppingLines = false;
    lineIdle();
}

void LetreiroService::lineIdle()
{
    if (!m_stopping || m_stoppingLines ||
        !std::all_of(m_lines.cbegin(), m_lines.cend(),
                     [](const LineQueue *q) { return q->isIdle(); }) ||
        m_stoppedSaid)
        return;
    m_stoppedSaid = true;
    m_writer.flush();
    QMetaObject::invokeMethod(this, &LetreiroService::stopped, Qt::QueuedConnection);
}
