#include "mqttbridge.h"

#include "encoder.h"
#include "flatten.h"
#include "frame.h"
#include "historystore.h"
#include "letreiroservice.h"
#include "linequeue.h"
#include "messagefile.h"
#include "mqttdiscovery.h"
#include "sendcheck.h"
#include "serviceclock.h"
#include "threadhandoff.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QPointer>

#include <mqtt_protocol.h>

namespace
{
// As many requests as the lines' queues hold: what a start takes back.
constexpr int kWaitingPerLine = LineQueue::kMaxWaiting;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QJsonObject readJson(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.read(1 << 20)).object()
                                       : QJsonObject();
}

void log(const QString &text)
{
    qWarning("letreiro-servidor: MQTT: %s", qPrintable(text));
}
} // namespace

MqttBridge::MqttBridge(const ServerConfig::Mqtt &config, LetreiroService &service, QObject *parent)
    : QObject(parent), m_config(config), m_service(service),
      m_journal(service.config().mqttJournalFile,
                int(service.config().lines.size()) * kWaitingPerLine +
                    int(service.config().panels.size()))
{
    const QString folder = QFileInfo(service.config().mqttJournalFile).absolutePath();
    m_appliedFile = folder + QStringLiteral("/mqtt-retidos.json");
    m_announcedFile = folder + QStringLiteral("/mqtt-descoberta.json");
    connect(&m_service, &LetreiroService::exchanged, this, &MqttBridge::exchanged);
}

MqttBridge::~MqttBridge()
{
    stop();
}

QString MqttBridge::topic(const QString &rest) const
{
    return QStringLiteral("letreiro/%1/%2").arg(m_config.site, rest);
}

bool MqttBridge::start(QString *error)
{
    QList<Entry> left;
    int damaged = 0;
    if (!m_journal.open(&left, &damaged, error)) return false;
    if (damaged)
        log(QStringLiteral("%1 registros ilegíveis no diário de mensagens; o resto foi mantido")
                .arg(damaged));
    const QJsonObject applied = readJson(m_appliedFile);
    for (auto it = applied.begin(); it != applied.end(); ++it)
        m_applied.insert(it.key(), it.value().toString());
    m_client.connected = [this](bool sessionPresent) {
        // Before the session's first message: a new session's packet ids
        // start over, so what was seen before says nothing any more.
        if (!sessionPresent) m_journal.newSession();
        for (const char *what : {"+/texto", "+/comando"})
            m_client.subscribe(topic(QString::fromLatin1(what)));
        handoff::queue(this, [this, sessionPresent] { connected(sessionPresent); });
    };
    m_client.lost = [this](int reason, const QString &why) {
        const QString text =
            reason == MQTT_RC_SESSION_TAKEN_OVER
                ? QStringLiteral("outro serviço está usando o sítio %1").arg(m_config.site)
                : QStringLiteral("%1:%2: %3 (%4); tentando de novo")
                      .arg(m_config.host)
                      .arg(m_config.port)
                      .arg(why)
                      .arg(reason);
        handoff::queue(this, [text] { log(text); });
    };
    m_client.received = [this](const MqttClient::Message &m) {
        // Written before the acknowledged message is let go of.
        const auto e = m_journal.add(m, nowMs(), m_config.maxAgeSeconds * 1000);
        if (e) handoff::queue(this, [this, e] { take(*e, false); });
    };
    MqttClient::Settings s{QStringLiteral("letreiro-") + m_config.site,
                           m_config.host,
                           m_config.port,
                           m_config.user,
                           m_config.password,
                           m_config.caFile,
                           m_config.sessionSeconds,
                           topic(QStringLiteral("estado")),
                           "offline"};
    if (!m_client.start(s, error)) return false;
    // Answers given now wait in the library for the connection.
    for (const Entry &e : left)
        take(e, true);
    return true;
}

void MqttBridge::stop()
{
    if (m_stopped) return;
    m_stopped = true;
    // A goodbye the broker was told of sends no last will: the presence is
    // set here.
    m_client.publish(topic(QStringLiteral("estado")), "offline", true);
    m_client.stop();
    m_journal.sync();
}

void MqttBridge::connected(bool sessionPresent)
{
    log(sessionPresent ? QStringLiteral("conectado; a sessão foi mantida")
                       : QStringLiteral("conectado; sessão nova"));
    m_client.publish(topic(QStringLiteral("estado")), "online", true);
    // A broker that kept nothing (restarted without persistence) has lost
    // the retained states and configs as well.
    if (sessionPresent && m_announced) return;
    publishStates();
    announce();
}

void MqttBridge::take(const Entry &e, bool again)
{
    const QStringList parts = e.message.topic.split(u'/');
    const QString panel = parts.value(2), kind = parts.value(3);
    const bool text = kind == QLatin1String("texto");
    const auto refuse = [&](const QString &why) {
        log(QStringLiteral("%1: %2").arg(e.message.topic, why));
        finish(e, {false, QStringLiteral("recusado"), why, {}});
    };
    if (e.message.oversized) return refuse(QStringLiteral("conteúdo maior que 64 KB"));
    if (parts.size() != 4 || (!text && kind != QLatin1String("comando")))
        return refuse(QStringLiteral("tópico desconhecido"));
    QStringList panels;
    if (panel == QLatin1String("todos")) {
        for (const ServerConfig::Panel &p : m_service.config().panels)
            panels.append(p.name);
    } else if (m_service.config().panel(panel)) {
        panels.append(panel);
    } else {
        return refuse(QStringLiteral("painel desconhecido: %1").arg(panel));
    }
    if (e.message.retained && !text)
        return refuse(QStringLiteral("comando retido não é executado"));
    if (e.expiresMs && nowMs() >= e.expiresMs)
        return finish(e,
                      {false, QStringLiteral("expirado"), QStringLiteral("validade vencida"), {}});
    if (e.message.retained && !again && appliedBefore(e)) return finish(e, {true, {}, {}, {}});
    // Empty and retained, it only takes the retained text away (above); a
    // plain empty text is refused as the API and the CLI refuse it.
    if (text && e.message.payload.isEmpty())
        return e.message.retained ? finish(e, {true, {}, {}, {}})
                                  : refuse(QStringLiteral("texto vazio"));
    const QString value = QString::fromUtf8(e.message.payload);
    if (text)
        runText(e, panels, value);
    else if (panelCommand(value.trimmed()))
        runCommand(e, panels, value.trimmed());
    else
        refuse(QStringLiteral("comando desconhecido: %1").arg(value.trimmed()));
}

bool MqttBridge::appliedBefore(const Entry &e)
{
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(e.message.payload, QCryptographicHash::Sha256).toHex());
    if (m_applied.value(e.message.topic) == hash) return true;
    // An empty retained payload only takes the retained text away.
    if (e.message.payload.isEmpty())
        m_applied.remove(e.message.topic);
    else
        m_applied.insert(e.message.topic, hash);
    QJsonObject all;
    for (auto it = m_applied.cbegin(); it != m_applied.cend(); ++it)
        all.insert(it.key(), it.value());
    messagefile::saveFile(m_appliedFile, QJsonDocument(all).toJson(QJsonDocument::Compact));
    return e.message.payload.isEmpty();
}

void MqttBridge::runText(const Entry &e, const QStringList &panels, const QString &text)
{
    const RichText message = plainMessage(text);
    const QByteArray field = 'L' + flattenMessage(message);
    QStringList warnings;
    for (const QString &name : panels) {
        const int type = m_service.config().panel(name)->type;
        if (encodeMessage(field, type).size() > frame::kMaxData)
            return finish(e, {false,
                              QStringLiteral("recusado"),
                              QStringLiteral("texto maior do que o painel %1 recebe").arg(name),
                              {}});
        for (const QString &w : sendcheck::differences(message, type))
            if (!warnings.contains(w)) warnings.append(w);
    }
    if (m_config.strict && !warnings.isEmpty())
        return finish(e, {false, QStringLiteral("recusado"),
                          QStringLiteral("o painel não mostraria o texto como está"), warnings});
    QList<PanelJobPtr> jobs;
    for (const QString &name : panels)
        jobs.append(m_service.textJob(name, text, QStringLiteral("mqtt")));
    run(e, jobs, warnings);
}

void MqttBridge::runCommand(const Entry &e, const QStringList &panels, const QString &command)
{
    // A clock or date sync reaches every panel of its line at once.
    const bool sync = command == QLatin1String("hora") || command == QLatin1String("data");
    QStringList targets, lines;
    for (const QString &name : panels) {
        const QString line = m_service.config().panel(name)->line;
        if (sync && lines.contains(line)) continue;
        lines.append(line);
        targets.append(name);
    }
    QList<PanelJobPtr> jobs;
    for (const QString &name : targets)
        jobs.append(m_service.commandJob(name, command, QStringLiteral("mqtt")));
    run(e, jobs, {});
}

void MqttBridge::run(const Entry &e, const QList<PanelJobPtr> &jobs, const QStringList &warnings)
{
    struct Tally {
        int left = 0;
        bool interrupted = false;
        QString panel;
        std::optional<JobResult> failed;
    };
    auto tally = std::make_shared<Tally>();
    tally->left = int(jobs.size());
    // The expiry holds until the frame starts: the line's queue answers
    // Expired for a job whose deadline passed while it waited.
    const qint64 deadline =
        e.expiresMs ? m_service.clock().monotonicMs() + std::max<qint64>(1, e.expiresMs - nowMs())
                    : 0;
    for (const PanelJobPtr &job : jobs) {
        job->deadlineMs = deadline;
        job->done = [self = QPointer<MqttBridge>(this), e, tally, warnings,
                     panel = job->panel](const JobResult &r) {
            tally->interrupted |= r.end == JobResult::End::Stopping;
            if (!r.ok() && !tally->failed) {
                tally->failed = r;
                tally->panel = panel;
            }
            if (--tally->left > 0 || !self || tally->interrupted) return;
            self->finish(e, resultOf(tally->failed, tally->panel, warnings));
        };
        m_service.submit(job);
    }
}

MqttBridge::Result MqttBridge::resultOf(const std::optional<JobResult> &failed,
                                        const QString &panel, const QStringList &warnings)
{
    if (!failed) return {true, QStringLiteral("enviado"), {}, warnings};
    switch (failed->end) {
    case JobResult::End::Ran:
        return {false, QStringLiteral("falhou"), panel + QStringLiteral(": ") + failed->text(),
                warnings};
    case JobResult::End::Replaced:
        return {false, QStringLiteral("substituído"), failed->text(), warnings};
    case JobResult::End::Expired:
        return {false, QStringLiteral("expirado"), failed->text(), warnings};
    default:
        return {false, QStringLiteral("recusado"), failed->text(), warnings};
    }
}

void MqttBridge::finish(const Entry &e, const Result &r)
{
    m_journal.finish(e.id);
    if (e.message.responseTopic.isEmpty() || r.outcome.isEmpty()) return;
    QJsonObject answer{{QStringLiteral("ok"), r.ok}, {QStringLiteral("resultado"), r.outcome}};
    if (!r.why.isEmpty()) answer.insert(QStringLiteral("motivo"), r.why);
    if (!r.warnings.isEmpty())
        answer.insert(QStringLiteral("avisos"), QJsonArray::fromStringList(r.warnings));
    m_client.publish(e.message.responseTopic, QJsonDocument(answer).toJson(QJsonDocument::Compact),
                     false, e.message.correlation);
}

void MqttBridge::exchanged(const QString &panel, bool ok, const QString &outcome,
                           const QString &text)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QJsonObject state{{QStringLiteral("ok"), ok},
                            {QStringLiteral("resultado"), outcome},
                            {QStringLiteral("quando"), isoWithOffset(now)},
                            {QStringLiteral("texto"), text}};
    const QByteArray payload = QJsonDocument(state).toJson(QJsonDocument::Compact);
    m_states.insert(panel, payload);
    m_client.publish(topic(panel + QStringLiteral("/estado")), payload, true);
}

void MqttBridge::publishStates()
{
    for (auto it = m_states.cbegin(); it != m_states.cend(); ++it)
        m_client.publish(topic(it.key() + QStringLiteral("/estado")), it.value(), true);
}

void MqttBridge::announce()
{
    const auto configs = m_config.discovery
                             ? mqttdiscovery::configs(m_config.site, m_service.config().panels)
                             : QList<QPair<QString, QByteArray>>();
    QJsonArray topics;
    for (const auto &[t, payload] : configs) {
        m_client.publish(t, payload, true);
        topics.append(t);
    }
    if (m_announced) return;
    m_announced = true;
    // Configs announced by an earlier start for panels gone since: an empty
    // retained payload takes their entities out of Home Assistant.
    for (const QJsonValue &t : readJson(m_announcedFile).value(QStringLiteral("topicos")).toArray())
        if (!topics.contains(t)) m_client.publish(t.toString(), {}, true);
    messagefile::saveFile(m_announcedFile,
                          QJsonDocument(QJsonObject{{QStringLiteral("topicos"), topics}})
                              .toJson(QJsonDocument::Compact));
}
