#include "letreiroservice.h"

#include "flatten.h"
#include "linequeue.h"
#include "logging.h"
#include "messagelibrary.h"
#include "panelport.h"
#include "serviceclock.h"
#include "textcheck.h"

#include <algorithm>

namespace
{
std::unique_ptr<PanelPort> devicePort(const ServerConfig::Line &l)
{
    auto port = std::make_unique<SerialPanelPort>();
    QObject::connect(port.get(), &PanelPort::opened,
                     [name = l.name, device = l.device](bool ok, const QString &why) {
                         if (!ok)
                             qCWarning(lcLine, "linha %s (%s): %s", qUtf8Printable(name),
                                       qUtf8Printable(device), qUtf8Printable(why));
                     });
    port->setReopenBeforeRequests(true);
    port->openDevice(l.device);
    return port;
}

// A job's end in the vocabulary every door speaks, and its reason.
PanelSend panelSend(const QString &panel, const JobResult &r)
{
    using End = JobResult::End;
    switch (r.end) {
    case End::Ran:
        return r.ok() ? PanelSend{panel, SendEnd::Sent, {}}
                      : PanelSend{panel, SendEnd::Failed, r.outcome.statusWithReason()};
    case End::Replaced: return {panel, SendEnd::Replaced, r.text()};
    case End::Expired: return {panel, SendEnd::Expired, r.text()};
    case End::Stopping: return {panel, SendEnd::Stopping, r.text()};
    case End::QueueFull: return {panel, SendEnd::Refused, r.text()};
    }
    return {panel, SendEnd::Failed, r.text()};
}

void addOnce(QStringList &to, const QStringList &more)
{
    for (const QString &w : more)
        if (!to.contains(w)) to.append(w);
}
} // namespace

LetreiroService::LetreiroService(ServerConfig config, ServiceClock *clock, PortFactory ports,
                                 QObject *parent)
    : QObject(parent), m_config(std::move(config)),
      m_clock(clock ? *clock : ServiceClock::system()),
      m_ports(ports ? std::move(ports) : PortFactory(devicePort)),
      m_history(m_config.historyFile, m_writer)
{
    startNote(m_history.load());
    connect(&m_writer, &StateWriter::result, this, &LetreiroService::written);
}

LetreiroService::~LetreiroService()
{
    // The lines first: their jobs still answer into the history.
    qDeleteAll(m_lines);
    m_lines.clear();
    m_writer.flush();
}

void LetreiroService::start()
{
    for (const ServerConfig::Line &l : m_config.lines) {
        auto *line = new LineQueue(l.name, m_ports(l), m_clock, this);
        m_lines.insert(l.name, line);
        connect(line, &LineQueue::exchanged, this, &LetreiroService::ended);
        connect(line, &LineQueue::idle, this, &LetreiroService::lineIdle);
    }
}

QStringList LetreiroService::warnings(const RichText &message, const QStringList &panels) const
{
    QStringList out;
    QList<int> types;
    for (const QString &name : panels) {
        const ServerConfig::Panel *p = m_config.panel(name);
        if (!p || types.contains(p->type)) continue;
        types.append(p->type);
        addOnce(out, textcheck::differences(message, p->type));
    }
    return out;
}

std::shared_ptr<PanelJob> LetreiroService::job(const QString &panel, const SendRequest &request,
                                               const RichText &message) const
{
    const ServerConfig::Panel *p = m_config.panel(panel);
    auto job = std::make_shared<PanelJob>();
    job->who = request.who;
    job->panel = panel;
    job->address = qint16(p->address);
    job->options = LinkOptions{p->type, false};
    job->deadlineMs = request.deadlineMs;
    const qint16 address = job->address;
    if (request.kind != SendRequest::Kind::Command) {
        job->kind = PanelJob::Kind::Text;
        job->what = request.kind == SendRequest::Kind::Text ? message.plainText() : request.value;
        const QByteArray field = loadCommandField(message);
        job->work = [address, field](PanelCommands &c) { return c.transfer(address, field); };
        job->shown = message.plainText();
        return job;
    }
    const PanelCommand *command = panelCommand(request.value);
    const char letter = command->letter;
    ServiceClock *clock = &m_clock;
    job->kind = PanelJob::Kind::Command;
    job->what = request.value;
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

void LetreiroService::send(SendRequest request, std::function<void(const SendResult &)> given)
{
    // Counted once each panel's part is over, whichever way it ends.
    const std::function<void(const SendResult &)> done = [this, given = std::move(given)](const SendResult &r) {
        if (r.panels.isEmpty()) ++m_sendCounts[sendWord(r.end)];
        for (const PanelSend &p : r.panels)
            ++m_sendCounts[sendWord(p.end)];
        if (given) given(r);
    };
    using Refusal = SendResult::Refusal;
    const auto refuse = [&done](Refusal why, const QString &reason, const QStringList &w = {}) {
        if (done) done(SendResult::refused(why, reason, w));
    };
    if (m_stopping) {
        SendResult r;
        r.end = SendEnd::Stopping;
        r.reason = QStringLiteral("o serviço está parando");
        if (done) done(r);
        return;
    }
    if (request.panels.isEmpty())
        for (const ServerConfig::Panel &p : m_config.panels)
            request.panels.append(p.name);
    request.panels.removeDuplicates();
    for (const QString &name : std::as_const(request.panels))
        if (!m_config.panel(name))
            return refuse(Refusal::Unknown, QStringLiteral("painel desconhecido: %1").arg(name));
    RichText message;
    switch (request.kind) {
    case SendRequest::Kind::Command:
        if (!panelCommand(request.value))
            return refuse(Refusal::Unknown,
                          QStringLiteral("comando desconhecido: %1").arg(request.value));
        break;
    case SendRequest::Kind::Text:
        if (request.value.isEmpty()) return refuse(Refusal::Invalid, QStringLiteral("texto vazio"));
        // As `letreiro-cli transfere --texto` sends it.
        message = plainMessage(request.value);
        break;
    case SendRequest::Kind::Message:
        if (request.message) {
            message = *request.message;
        } else {
            const Result<RichText> r = MessageLibrary(m_config.messagesFolder).message(request.value);
            if (!r)
                return refuse(r.failure().kind == Failure::Kind::NotFound ? Refusal::Unknown
                                                                          : Refusal::Invalid,
                              r.why());
            message = r.value();
        }
        break;
    }
    const QStringList warnings = request.kind == SendRequest::Kind::Command
                                     ? QStringList()
                                     : this->warnings(message, request.panels);
    if (request.strict && !warnings.isEmpty())
        return refuse(Refusal::Strict,
                      QStringLiteral("nada enviado: o painel não receberia o texto como foi "
                                     "escrito"),
                      warnings);

    // A job per panel; a command every panel of a line hears goes once per
    // line, and its result is each of that line's panels' result.
    struct Group {
        QList<PanelSend> rows;
        int left = 0;
        QStringList warnings;
        std::function<void(const SendResult &)> done;
    };
    auto group = std::make_shared<Group>();
    group->warnings = warnings;
    group->done = std::move(done);
    QHash<QString, std::shared_ptr<PanelJob>> byLine;
    QList<std::shared_ptr<PanelJob>> jobs;
    QList<QList<int>> rowsOf; // the rows each job answers for
    for (const QString &name : std::as_const(request.panels)) {
        const QString line = m_config.panel(name)->line;
        group->rows.append({name, SendEnd::Sent, {}});
        const int row = int(group->rows.size()) - 1;
        if (auto it = byLine.constFind(line); it != byLine.cend() && (*it)->wholeLine) {
            rowsOf[jobs.indexOf(*it)].append(row);
            continue;
        }
        auto j = job(name, request, message);
        byLine.insert(line, j);
        jobs.append(j);
        rowsOf.append(QList<int>{row});
    }
    group->left = int(jobs.size());
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        jobs[i]->done = [group, rows = rowsOf[i]](const JobResult &r) {
            for (int row : rows) {
                const QString panel = group->rows[row].panel;
                group->rows[row] = panelSend(panel, r);
            }
            if (--group->left > 0) return;
            if (group->done) group->done(SendResult::rollUp(group->rows, group->warnings));
        };
    }
    for (const auto &j : jobs)
        submitTo(m_lines.value(m_config.panel(j->panel)->line), j);
}

void LetreiroService::sendFrame(const QString &line, qint16 address, const QByteArray &data,
                                std::function<void(const FrameResult &)> done)
{
    auto job = std::make_shared<PanelJob>();
    job->kind = PanelJob::Kind::Relay;
    job->who = QStringLiteral("repasse");
    job->address = address;
    job->panel = QStringLiteral("linha %1, endereço %2").arg(line).arg(address);
    job->what = QString::fromLatin1(data.left(1));
    job->work = [address, data](PanelCommands &c) { return c.relay(address, data); };
    job->done = [done = std::move(done)](const JobResult &r) {
        if (done) done({r.end == JobResult::End::Ran, r.outcome.reply});
    };
    submitTo(m_lines.value(line), std::move(job));
}

void LetreiroService::submitTo(LineQueue *line, std::shared_ptr<PanelJob> job)
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
        if (r.end != JobResult::End::Ran) {
            const PanelSend s = panelSend(panel, r);
            m_history.add({m_clock.now(), who, panel, what, sendWord(s.end), s.reason, false});
        }
        if (done) done(r);
    };
    line->submit(std::move(job));
}

void LetreiroService::ended(const PanelJob &job, const JobResult &r)
{
    const PanelSend s = panelSend(job.panel, r);
    m_history.add({m_clock.now(), job.who, job.panel, job.what, sendWord(s.end), s.reason, r.ok()});
    const ServerConfig::Panel *own = m_config.panel(job.panel);
    if (!own) return; // a relayed frame, by address
    // Every panel the exchange reached: a clock sync reaches the whole line.
    for (const ServerConfig::Panel &p : m_config.panels) {
        if (p.line != own->line || !(p.name == job.panel || job.reaches(qint16(p.address))))
            continue;
        if (r.ok() && job.shown) m_shown.insert(p.name, *job.shown);
        Q_EMIT exchanged(p.name, r.ok(), sendWord(s.end), s.reason, m_shown.value(p.name));
    }
}

void LetreiroService::record(const QString &who, const QString &what, const QString &text,
                             bool ok)
{
    // A note (a late agenda entry) says itself; a refusal says why.
    m_history.add({m_clock.now(), who, QString(), what,
                   ok ? text : sendWord(SendEnd::Refused), ok ? QString() : text, ok});
}

void LetreiroService::written(const QString &path, const QString &why)
{
    if (why.isEmpty()) {
        m_warnings.remove(path);
        qCInfo(lcState, "%s gravado de novo", qUtf8Printable(path));
        return;
    }
    const QString text = QStringLiteral("não foi possível gravar %1: %2").arg(path, why);
    m_warnings.insert(path, text);
    qCWarning(lcState, "%s", qUtf8Printable(text));
}

void LetreiroService::startNote(const QString &text)
{
    if (text.isEmpty()) return;
    m_startNotes.append(text);
    qCWarning(lcState, "%s", qUtf8Printable(text));
}

void LetreiroService::stop()
{
    if (m_stopping) return;
    m_stopping = true;
    if (m_agenda) m_agenda->stop();
    Q_EMIT stopping();
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
