// What the site does with a text or command from the broker: checked,
// given to the service's one send path, and answered on the request's
// Response Topic. The journal holds each from its arrival to its answer.
#include "mqttbridge.h"

#include "letreiroservice.h"
#include "logging.h"
#include "serviceclock.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

void MqttBridge::take(const Entry &given, bool again)
{
    Entry e = given;
    const QString rt = e.message.responseTopic;
    if (!rt.isEmpty() && (readsTopic(rt) || rt.contains(u'+') || rt.contains(u'#'))) {
        // An answer there would come back as a message to run.
        log(QStringLiteral("%1: tópico de resposta recusado, o serviço lê %2; sem resposta")
                .arg(logging::printable(e.message.topic), logging::printable(rt)));
        e.message.responseTopic.clear();
    }
    const QStringList parts = e.message.topic.split(u'/');
    const QString panel = parts.value(2), kind = parts.value(3);
    const bool text = kind == QLatin1String("texto");
    const auto refuse = [&](const QString &why) {
        // The topic and what it carried came from outside: made printable.
        log(QStringLiteral("%1: %2").arg(logging::printable(e.message.topic), why));
        finish(e, SendResult::refused(SendResult::Refusal::Invalid, why));
    };
    if (e.message.oversized) return refuse(QStringLiteral("conteúdo maior que 64 KB"));
    if (parts.size() != 4 || (!text && kind != QLatin1String("comando")))
        return refuse(QStringLiteral("tópico desconhecido"));
    if (e.message.retained && !text)
        return refuse(QStringLiteral("comando retido não é executado"));
    if (e.expiresMs && m_service.clock().epochMs() >= e.expiresMs) {
        SendResult expired;
        expired.end = SendEnd::Expired;
        expired.reason = QStringLiteral("validade vencida");
        return finish(e, expired);
    }
    if (e.message.retained && !again && appliedBefore(e)) return m_journal.finish(e.id);
    // Empty and retained, it only takes the retained text away (above).
    if (text && e.message.payload.isEmpty() && e.message.retained) return m_journal.finish(e.id);
    SendRequest request;
    request.kind = text ? SendRequest::Kind::Text : SendRequest::Kind::Command;
    // "todos": every panel of the site; anything else names one.
    if (panel != QLatin1String("todos")) request.panels = QStringList{panel};
    const QString value = QString::fromUtf8(e.message.payload);
    request.value = text ? value : value.trimmed();
    request.who = QStringLiteral("mqtt");
    request.strict = m_config.strict;
    // The expiry holds until the frame starts: the line's queue answers
    // Expired for a job whose deadline passed while it waited.
    if (e.expiresMs)
        request.deadlineMs =
            m_service.clock().monotonicMs() +
            std::max<qint64>(1, e.expiresMs - m_service.clock().epochMs());
    m_service.send(std::move(request), [self = QPointer<MqttBridge>(this), e](const SendResult &r) {
        // One a stop left undone stays in the journal for the next start.
        if (!self || r.interrupted() || r.end == SendEnd::Stopping) return;
        if (r.end == SendEnd::Refused && r.refusal != SendResult::Refusal::Full)
            log(QStringLiteral("%1: %2").arg(logging::printable(e.message.topic),
                                             logging::printable(r.reason)));
        self->finish(e, r);
    });
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
    m_service.stateWriter().save(m_appliedFile,
                                 QJsonDocument(all).toJson(QJsonDocument::Compact));
    return e.message.payload.isEmpty();
}

void MqttBridge::finish(const Entry &e, const SendResult &r)
{
    if (e.message.responseTopic.isEmpty()) return m_journal.finish(e.id);
    Entry answered = e;
    answered.answer = QJsonDocument(r.json()).toJson(QJsonDocument::Compact);
    m_journal.answered(e.id, answered.answer);
    publishAnswer(answered);
}

void MqttBridge::publishAnswer(const Entry &e)
{
    // The entry is over once the broker has its answer (on the link's
    // thread, as the journal's writes from there are).
    MqttJournal *journal = &m_journal;
    const quint64 id = e.id;
    m_client.answer(e.message.responseTopic, e.answer, e.message.correlation,
                    [journal, id] { journal->finish(id); });
}
