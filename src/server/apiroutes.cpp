#include "apiroutes.h"

#include "letreiroservice.h"
#include "messagefile.h"
#include "rtfreader.h"
#include "serviceclock.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

ApiAnswer ApiAnswer::json(const QJsonValue &v, int status)
{
    return {status, v.isArray() ? QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact)
                                : QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact)};
}

ApiAnswer ApiAnswer::error(int status, const QString &why)
{
    return json(QJsonObject{{QStringLiteral("erro"), why}}, status);
}

namespace
{
ApiAnswer resultAnswer(const JobResult &r)
{
    using End = JobResult::End;
    if (r.end == End::Replaced)
        return ApiAnswer::json(
            QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("resultado"), r.text()}});
    QJsonObject o{{QStringLiteral("ok"), r.ok()}, {QStringLiteral("resultado"), r.outcome.status}};
    if (!r.ok()) o.insert(QStringLiteral("motivo"), r.outcome.reason);
    const int status = r.end == End::Ran       ? 200
                       : r.end == End::Expired ? 504
                                               : 503; // stopping, or the line is full
    return ApiAnswer::json(o, status);
}
} // namespace

namespace apiroutes
{

void sendToPanel(LetreiroService &service, const QString &panel, const QString &kind,
                 const QByteArray &body, const QString &user,
                 const std::function<void(const ApiAnswer &)> &answer)
{
    QJsonParseError e{};
    const QJsonDocument d = QJsonDocument::fromJson(body, &e);
    if (e.error != QJsonParseError::NoError || !d.isObject())
        return answer(ApiAnswer::error(400, QStringLiteral("JSON inválido")));
    const QJsonObject o = d.object();
    PanelJobPtr job;
    if (kind == QLatin1String("mensagem")) {
        const QString file = o.value(QStringLiteral("arquivo")).toString();
        if (!isMessageName(file))
            return answer(ApiAnswer::error(400, QStringLiteral("nome de mensagem inválido")));
        const RtfReadResult r =
            messagefile::read(QDir(service.config().messagesFolder).filePath(file));
        if (!r.ok) return answer(ApiAnswer::error(404, r.error));
        job = service.messageJob(panel, r.text, file, user);
    } else {
        const QString value = o.value(kind == QLatin1String("texto") ? QStringLiteral("texto")
                                                                     : QStringLiteral("comando"))
                                  .toString();
        if (value.isEmpty())
            return answer(ApiAnswer::error(400, QStringLiteral("falta o texto ou o comando")));
        job = kind == QLatin1String("texto") ? service.textJob(panel, value, user)
                                             : service.commandJob(panel, value, user);
    }
    if (!job)
        return answer(ApiAnswer::error(404, QStringLiteral("painel ou comando desconhecido")));
    job->deadlineMs = service.clock().monotonicMs() + kWaitForLineMs;
    job->done = [answer](const JobResult &r) { answer(resultAnswer(r)); };
    service.submit(std::move(job));
}

ApiAnswer state(const LetreiroService &service)
{
    return ApiAnswer::json(service.stateJson());
}

ApiAnswer health(const LetreiroService &service)
{
    if (service.isHealthy())
        return {200, QByteArrayLiteral("ok\n"), QByteArrayLiteral("text/plain; charset=utf-8")};
    return {503, QByteArrayLiteral("uma linha não responde\n"),
            QByteArrayLiteral("text/plain; charset=utf-8")};
}

} // namespace apiroutes
