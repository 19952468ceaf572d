#include "apiroutes.h"

#include "letreiroservice.h"
#include "messagelibrary.h"
#include "serviceclock.h"
#include "textcheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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
    return apianswer::json(o, status);
}
} // namespace

namespace apiroutes
{

namespace
{
// What the panel would get otherwise than asked is said; with "estrito" it
// is refused and nothing is sent.
void submit(LetreiroService &service, PanelJobPtr job, const QJsonArray &warnings, bool strict,
            const std::function<void(const ApiAnswer &)> &answer)
{
    if (job && strict && !warnings.isEmpty())
        return answer(apianswer::json(textcheck::refusal(warnings), 422));
    if (!job)
        return answer(apianswer::error(404, QStringLiteral("painel ou comando desconhecido")));
    job->deadlineMs = service.clock().monotonicMs() + kWaitForLineMs;
    job->done = [answer, warnings](const JobResult &r) { answer(resultAnswer(r, warnings)); };
    service.submit(std::move(job));
}
} // namespace

void sendToPanel(LetreiroService &service, const QString &panel, const QString &kind,
                 const QByteArray &body, const QString &user,
                 const std::function<void(const ApiAnswer &)> &answer, const MessageReader &read)
{
    QJsonParseError e{};
    const QJsonDocument d = QJsonDocument::fromJson(body, &e);
    if (e.error != QJsonParseError::NoError || !d.isObject())
        return answer(apianswer::error(400, QStringLiteral("JSON inválido")));
    const QJsonObject o = d.object();
    const ServerConfig::Panel *p = service.config().panel(panel);
    const int type = p ? p->type : 0;
    const bool strict = o.value(QStringLiteral("estrito")).toBool();
    if (kind == QLatin1String("mensagem")) {
        const QString file = o.value(QStringLiteral("arquivo")).toString();
        const ReadThen send = [&service, panel, file, user, type, strict,
                               answer](const RtfReadResult &r, int status) {
            if (!r.ok) return answer(apianswer::error(status, r.error));
            submit(service, service.messageJob(panel, r.text, file, user),
                   textcheck::warnings(r.text, type), strict, answer);
        };
        if (read) return read(file, send);
        int status = 0;
        const RtfReadResult r =
            MessageLibrary(service.config().messagesFolder).message(file, &status);
        return send(r, status);
    }
    const QString value = o.value(kind == QLatin1String("texto") ? QStringLiteral("texto")
                                                                 : QStringLiteral("comando"))
                              .toString();
    if (value.isEmpty())
        return answer(apianswer::error(400, QStringLiteral("falta o texto ou o comando")));
    const QJsonArray warnings =
        kind == QLatin1String("texto") ? textcheck::warnings(value, type) : QJsonArray();
    submit(service,
           kind == QLatin1String("texto") ? service.textJob(panel, value, user)
                                          : service.commandJob(panel, value, user),
           warnings, strict, answer);
}

ApiAnswer state(const LetreiroService &service)
{
    return apianswer::json(service.stateJson());
}

ApiAnswer health(const LetreiroService &service)
{
    const bool healthy = service.isHealthy();
    ApiAnswer a = apianswer::bytes(healthy ? QByteArrayLiteral("ok\n")
                                           : QByteArrayLiteral("uma linha não responde\n"),
                                   "text/plain; charset=utf-8");
    a.status = healthy ? 200 : 503;
    return a;
}

} // namespace apiroutes
