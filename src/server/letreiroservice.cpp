#include "letreiroservice.h"

#include "flatten.h"
#include "frame.h"
#include "messagefile.h"
#include "messagelibrary.h"
#include "panelport.h"
#include "replyreceiver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace
{
constexpr int kHistory = 500;

QJsonObject recordJson(const QDateTime &when, const QString &who, const QString &panel,
                       const QString &what, const QString &outcome, bool ok)
{
    return {{QStringLiteral("quando"), when.toString(Qt::ISODate)},
            {QStringLiteral("quem"), who},
            {QStringLiteral("painel"), panel},
            {QStringLiteral("o_que"), what},
            {QStringLiteral("resultado"), outcome},
            {QStringLiteral("ok"), ok}};
}
} // namespace

LetreiroService::LetreiroService(ServerConfig config, QObject *parent)
    : QObject(parent), m_config(std::move(config)),
      m_scheduler(QTimeZone::systemTimeZone(), [] { return QDateTime::currentDateTimeUtc(); })
{
    loadHistory();
    m_scheduleTimer.setSingleShot(true);
    connect(&m_scheduleTimer, &QTimer::timeout, this, &LetreiroService::checkSchedule);
}

LetreiroService::~LetreiroService() = default;

bool LetreiroService::start(QString *error)
{
    for (const ServerConfig::Line &l : m_config.lines) {
        Line &line = m_lines[l.name];
        line.port = new SerialPanelPort(this);
        // The answers come back in the order the requests went in.
        connect(line.port, &PanelPort::finished, this,
                [this, name = l.name](const CommandOutcome &o) {
                    Line &line = m_lines[name];
                    if (line.pending.empty()) return;
                    Done done = std::move(line.pending.front());
                    line.pending.pop_front();
                    done(o);
                });
        connect(line.port, &PanelPort::opened, this,
                [name = l.name, device = l.device](bool ok, const QString &why) {
                    if (!ok)
                        qWarning("letreiro-servidor: linha %s (%s): %s", qPrintable(name),
                                 qPrintable(device), qPrintable(why));
                });
        line.port->setReopenBeforeRequests(true);
        line.port->openDevice(l.device);
        if (!l.relayHost.isEmpty()) {
            line.relay = new QTcpServer(this);
            if (!line.relay->listen(QHostAddress(l.relayHost), l.relayPort)) {
                *error = QStringLiteral("repasse da linha %1: não foi possível escutar em %2:%3")
                             .arg(l.name, l.relayHost)
                             .arg(l.relayPort);
                return false;
            }
            serveRelay(l.name);
        }
    }
    // The agenda's state and the MQTT journal sit beside the history.
    QDir().mkpath(QFileInfo(m_config.scheduleStateFile).absolutePath());
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
    runScheduled(m_scheduler.start(covered));
    saveScheduleState();
    m_scheduleTimer.start(m_scheduler.msUntilNextMinute() + 250);
    return true;
}

void LetreiroService::checkSchedule()
{
    const QDateTime before = m_scheduler.covered();
    runScheduled(m_scheduler.poll());
    if (m_scheduler.covered() != before) saveScheduleState();
    m_scheduleTimer.start(m_scheduler.msUntilNextMinute() + 250);
}

void LetreiroService::runScheduled(const QList<ScheduledRun> &runs)
{
    for (const ScheduledRun &run : runs) {
        if (run.entry < 0) {
            note(QStringLiteral("agenda"), {}, run.note);
            continue;
        }
        const ScheduleEntry &e = m_scheduler.entries().at(run.entry);
        const QString who = QStringLiteral("agenda %1").arg(e.name);
        if (!run.note.isEmpty()) note(who, e.value, run.note);
        if (!run.skipped) sendToPanels(e.panels, e.action, e.value, who);
    }
}

void LetreiroService::saveScheduleState() const
{
    messagefile::saveFile(m_config.scheduleStateFile,
                          QJsonDocument(QJsonObject{{QStringLiteral("coberto"),
                                                     m_scheduler.covered().toString(Qt::ISODate)}})
                              .toJson(QJsonDocument::Compact));
}

QJsonArray LetreiroService::scheduleJson() const
{
    QJsonArray out;
    for (const ScheduleEntry &e : m_scheduler.entries())
        out.append(e.toJson());
    return out;
}

bool LetreiroService::setSchedule(const QList<ScheduleEntry> &editable, QString *error)
{
    if (!m_config.checkSchedule(editable, error)) return false;
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

bool LetreiroService::sendToPanels(QStringList panels, ScheduleEntry::Action action,
                                   const QString &value, const QString &who,
                                   std::function<void()> allDone)
{
    if (panels.isEmpty())
        for (const ServerConfig::Panel &p : m_config.panels)
            panels.append(p.name);
    for (const QString &name : panels)
        if (!m_config.panel(name)) return false;
    // One count for the exchanges under way, the last one out calls allDone.
    auto left = std::make_shared<int>(1);
    const auto finished = [left, allDone] {
        if (--*left == 0 && allDone) allDone();
    };
    const auto ignore = [left, finished](const CommandOutcome &) { finished(); };
    const auto started = [left] { ++*left; };
    if (action == ScheduleEntry::Action::Command) {
        if (!panelCommands().contains(value)) return false;
        QStringList lines; // a sync reaches every panel of its line at once
        const bool sync = value == QLatin1String("hora") || value == QLatin1String("data");
        for (const QString &name : panels) {
            const QString line = m_config.panel(name)->line;
            if (sync && lines.contains(line)) continue;
            lines.append(line);
            started();
            sendCommand(name, value, who, ignore);
        }
        finished();
        return true;
    }
    RichText message;
    if (action == ScheduleEntry::Action::Message) {
        RtfReadResult r = MessageLibrary(m_config.messagesFolder).message(value);
        if (!r.ok) {
            note(who, value, r.error, false);
            finished();
            return true;
        }
        message = std::move(r.text);
    }
    for (const QString &name : panels) {
        started();
        if (action == ScheduleEntry::Action::Text)
            sendText(name, value, who, ignore);
        else
            sendMessage(name, message, value, who, ignore);
    }
    finished();
    return true;
}

quint16 LetreiroService::relayPort(const QString &line) const
{
    const auto it = m_lines.constFind(line);
    return it != m_lines.constEnd() && it->relay ? it->relay->serverPort() : 0;
}

void LetreiroService::submit(const QString &line, const LinkOptions &options,
                             const PanelPort::Job &job, Done done)
{
    Line &l = m_lines[line];
    l.pending.push_back(std::move(done));
    l.port->run(options, job);
}

bool LetreiroService::sendText(const QString &panel, const QString &text, const QString &who,
                               Done done)
{
    // As `letreiro-cli transfere --texto` sends it.
    const RichText message = plainMessage(text);
    return sendMessage(panel, message, message.plainText(), who, std::move(done));
}

bool LetreiroService::sendMessage(const QString &panel, const RichText &message,
                                  const QString &what, const QString &who, Done done)
{
    const ServerConfig::Panel *p = m_config.panel(panel);
    if (!p) return false;
    const QByteArray field = loadCommandField(message);
    const auto address = qint16(p->address);
    submit(
        p->line, LinkOptions{p->type, false},
        [address, field](PanelCommands &c) { return c.transfer(address, field); },
        [this, panel, who, what, done, shown = message.plainText()](const CommandOutcome &o) {
            record(panel, who, what, o, shown);
            done(o);
        });
    return true;
}

bool LetreiroService::sendCommand(const QString &panel, const QString &command, const QString &who,
                                  Done done)
{
    const ServerConfig::Panel *p = m_config.panel(panel);
    static const QHash<QString, char> letters = {{QStringLiteral("para"), 'P'},
                                                 {QStringLiteral("inicia"), 'I'},
                                                 {QStringLiteral("apaga"), 'A'}};
    if (!p || !panelCommands().contains(command)) return false;
    const auto address = qint16(p->address);
    const char letter = letters.value(command, 0);
    PanelPort::Job job;
    if (letter)
        job = [address, letter](PanelCommands &c) { return c.letter(address, letter); };
    else if (command == QLatin1String("hora"))
        job = [](PanelCommands &c) { return c.setClock(QDateTime::currentDateTime()); };
    else
        job = [](PanelCommands &c) { return c.setDate(QDateTime::currentDateTime()); };
    submit(p->line, LinkOptions{p->type, false}, job,
           [this, panel, who, command, done](const CommandOutcome &o) {
               // A panel cleared shows nothing any more.
               record(panel, who, command, o,
                      command == QLatin1String("apaga") && o.succeeded
                          ? std::optional<QString>(QString())
                          : std::nullopt);
               done(o);
           });
    return true;
}

void LetreiroService::serveRelay(const QString &line)
{
    QTcpServer *server = m_lines[line].relay;
    connect(server, &QTcpServer::newConnection, this, [this, server, line] {
        while (QTcpSocket *s = server->nextPendingConnection()) {
            auto receiver = std::make_shared<ReplyReceiver>();
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            connect(s, &QTcpSocket::readyRead, this, [this, s, receiver, line] {
                const QByteArray bytes = s->readAll();
                for (const char b : bytes) {
                    if (!receiver->feed(quint8(b))) continue;
                    // A whole frame of a client: queued with everyone else's,
                    // its answer (if any) to this client only.
                    const auto address = qint16(receiver->address());
                    const QByteArray data = receiver->payload().chopped(1);
                    receiver->reset();
                    QPointer<QTcpSocket> client(s);
                    submit(
                        line, LinkOptions{},
                        [address, data](PanelCommands &c) { return c.relay(address, data); },
                        [this, client, address, line, data](const CommandOutcome &o) {
                            record(QStringLiteral("linha %1, endereço %2").arg(line).arg(address),
                                   QStringLiteral("repasse"), QString::fromLatin1(data.left(1)), o);
                            if (!client || address == 0 || o.reply.size() < 2) return;
                            const auto length = quint16(o.reply.size() + 3);
                            QByteArray answer;
                            answer.append(char(0x81)).append(char(0x7E));
                            answer.append(char(length & 0xFF)).append(char(length >> 8));
                            answer.append(char(quint16(address) & 0xFF))
                                .append(char(quint16(address) >> 8));
                            answer.append(char(0xFF)).append(char(0xFF)).append(o.reply);
                            client->write(answer);
                        });
                }
            });
        }
    });
}

void LetreiroService::record(const QString &panel, const QString &who, const QString &what,
                             const CommandOutcome &o, const std::optional<QString> &shown)
{
    Record r{QDateTime::currentDateTime(), who, panel, what, o.statusWithReason(), o.succeeded};
    m_last.insert(panel, r);
    remember(r);
    if (!m_config.panel(panel)) return; // a relayed frame, by address
    if (shown) m_shown.insert(panel, *shown);
    Q_EMIT exchanged(panel, r.ok, r.outcome, m_shown.value(panel));
}

void LetreiroService::note(const QString &who, const QString &what, const QString &text, bool ok)
{
    remember(Record{QDateTime::currentDateTime(), who, QString(), what, text, ok});
}

void LetreiroService::remember(const Record &r)
{
    m_history.push_back(r);
    while (m_history.size() > kHistory)
        m_history.pop_front();
    saveHistory();
}

QJsonArray LetreiroService::panelsJson() const
{
    QJsonArray out;
    for (const ServerConfig::Panel &p : m_config.panels) {
        QJsonObject o{{QStringLiteral("nome"), p.name},
                      {QStringLiteral("linha"), p.line},
                      {QStringLiteral("endereco"), p.address},
                      {QStringLiteral("tipo"), p.type}};
        const auto it = m_last.constFind(p.name);
        o.insert(QStringLiteral("ultimo"),
                 it == m_last.constEnd()
                     ? QJsonValue()
                     : QJsonObject{{QStringLiteral("quando"), it->when.toString(Qt::ISODate)},
                                   {QStringLiteral("ok"), it->ok},
                                   {QStringLiteral("resultado"), it->outcome}});
        out.append(o);
    }
    return out;
}

QJsonArray LetreiroService::historyJson() const
{
    QJsonArray out;
    for (const Record &r : m_history)
        out.append(recordJson(r.when, r.who, r.panel, r.what, r.outcome, r.ok));
    return out;
}

void LetreiroService::loadHistory()
{
    QFile f(m_config.historyFile);
    if (!f.open(QIODevice::ReadOnly)) return;
    const QJsonArray all = QJsonDocument::fromJson(f.read(16 << 20)).array();
    for (const QJsonValue &v : all) {
        const QJsonObject o = v.toObject();
        Record r{QDateTime::fromString(o.value(QStringLiteral("quando")).toString(), Qt::ISODate),
                 o.value(QStringLiteral("quem")).toString(),
                 o.value(QStringLiteral("painel")).toString(),
                 o.value(QStringLiteral("o_que")).toString(),
                 o.value(QStringLiteral("resultado")).toString(),
                 o.value(QStringLiteral("ok")).toBool()};
        m_history.push_back(r);
        m_last.insert(r.panel, r);
    }
    while (m_history.size() > kHistory)
        m_history.pop_front();
}

void LetreiroService::saveHistory() const
{
    messagefile::saveFile(m_config.historyFile,
                          QJsonDocument(historyJson()).toJson(QJsonDocument::Compact));
}
