#include "apiroutes.h"

#include "letreiroservice.h"
#include "messagelibrary.h"
#include "serviceclock.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace
{
ApiAnswer resultAnswer(const JobResult &r)
{
    using End = JobResult::End;
    if (r.end == End::Replaced)
        return apianswer::json(
            QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("resultado"), r.text()}});
    QJsonObject o{{QStringLiteral("ok"), r.ok()}, {QStringLiteral("resultado"), r.outcome.status}};
    if (!r.ok()) o.insert(QStringLiteral("motivo"), r.outcome.reason);
    const int status = r.end == End::Ran       ? 200
                       : r.end == End::Expired ? 504
                                               : 503; // stopping, or the line is full
    return apianswer::json(o, status);
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
        return answer(apianswer::error(400, QStringLiteral("JSON inválido")));
    const QJsonObject o = d.object();
    PanelJobPtr job;
    if (kind == QLatin1String("mensagem")) {
        const QString file = o.value(QStringLiteral("arquivo")).toString();
        int status = 0;
        const RtfReadResult r =
            MessageLibrary(service.config().messagesFolder).message(file, &status);
        if (!r.ok) return answer(apianswer::error(status, r.error));
        job = service.messageJob(panel, r.text, file, user);
    } else {
        const QString value = o.value(kind == QLatin1String("texto") ? QStringLiteral("texto")
                                                                     : QStringLiteral("comando"))
                                  .toString();
        if (value.isEmpty())
            return answer(apianswer::error(400, QStringLiteral("falta o texto ou o comando")));
        job = kind == QLatin1String("texto") ? service.textJob(panel, value, user)
                                             : service.commandJob(panel, value, user);
    }
    if (!job)
        return answer(apianswer::error(404, QStringLiteral("painel ou comando desconhecido")));
    job->deadlineMs = service.clock().monotonicMs() + kWaitForLineMs;
    job->done = [answer](const JobResult &r) { answer(resultAnswer(r)); };
    service.submit(std::move(job));
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
