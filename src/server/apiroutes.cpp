#include "apiroutes.h"

#include "letreiroservice.h"
#include "messagefile.h"
#include "rtfreader.h"
#include "serviceclock.h"
#include "textcheck.h"

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
// The job's outcome, with what the panel received otherwise than asked.
ApiAnswer resultAnswer(const JobResult &r, const QJsonArray &warnings)
{
    using End = JobResult::End;
    QJsonObject o{{QStringLiteral("ok"), r.ok()}, {QStringLiteral("resultado"), r.outcome.status}};
    if (r.end == End::Replaced)
        o = {{QStringLiteral("ok"), false}, {QStringLiteral("resultado"), r.text()}};
    else if (!r.ok())
        o.insert(QStringLiteral("motivo"), r.outcome.reason);
    if (!warnings.isEmpty()) o.insert(QStringLiteral("avisos"), warnings);
    const int status = r.end == End::Ran || r.end == End::Replaced ? 200
                       : r.end == End::Expired                     ? 504
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
    const ServerConfig::Panel *p = service.config().panel(panel);
    const int type = p ? p->type : 0;
    QJsonArray warnings;
    PanelJobPtr job;
    if (kind == QLatin1String("mensagem")) {
        const QString file = o.value(QStringLiteral("arquivo")).toString();
        if (!isMessageName(file))
            return answer(ApiAnswer::error(400, QStringLiteral("nome de mensagem inválido")));
        const RtfReadResult r =
            messagefile::read(QDir(service.config().messagesFolder).filePath(file));
        if (!r.ok) return answer(ApiAnswer::error(404, r.error));
        warnings = textcheck::warnings(r.text, type);
        job = service.messageJob(panel, r.text, file, user);
    } else {
        const QString value = o.value(kind == QLatin1String("texto") ? QStringLiteral("texto")
                                                                     : QStringLiteral("comando"))
                                  .toString();
        if (value.isEmpty())
            return answer(ApiAnswer::error(400, QStringLiteral("falta o texto ou o comando")));
        if (kind == QLatin1String("texto")) warnings = textcheck::warnings(value, type);
        job = kind == QLatin1String("texto") ? service.textJob(panel, value, user)
                                             : service.commandJob(panel, value, user);
    }
    // What the panel would get otherwise than asked is said; with "estrito"
    // it is refused and nothing is sent.
    if (job && o.value(QStringLiteral("estrito")).toBool() && !warnings.isEmpty())
        return answer(ApiAnswer::json(textcheck::refusal(warnings), 422));
    if (!job)
        return answer(ApiAnswer::error(404, QStringLiteral("painel ou comando desconhecido")));
    job->deadlineMs = service.clock().monotonicMs() + kWaitForLineMs;
    job->done = [answer, warnings](const JobResult &r) { answer(resultAnswer(r, warnings)); };
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
