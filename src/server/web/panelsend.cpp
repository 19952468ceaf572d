#include "panelsend.h"

#include "apianswer.h"
#include "letreiroservice.h"
#include "serviceclock.h"

#include <QJsonObject>

namespace panelsend
{

void sendToPanel(LetreiroService &service, const QString &panel, const QString &kind,
                 const QByteArray &body, const QString &user,
                 const std::function<void(const HttpResponse &)> &answer, const MessageReader &read)
{
    const auto o = apianswer::object(body);
    if (!o) return answer(apianswer::error(400, QStringLiteral("JSON inválido")));
    SendRequest request;
    request.panels = QStringList{panel};
    request.who = user;
    request.strict = o->value(QStringLiteral("estrito")).toBool();
    const auto send = [&service, answer](SendRequest request) {
        request.deadlineMs = service.clock().monotonicMs() + kWaitForLineMs;
        service.send(std::move(request), [answer](const SendResult &r) { answer(apianswer::sent(r)); });
    };
    if (kind == QLatin1String("mensagem")) {
        request.kind = SendRequest::Kind::Message;
        request.value = o->value(QStringLiteral("arquivo")).toString();
        // An unknown panel is said before a file is read for it.
        if (!service.config().panel(panel) || !read) return send(std::move(request));
        return read(request.value, [send, answer, request](const Result<RichText> &r) mutable {
            if (!r) return answer(apianswer::refused(r.failure()));
            request.message = r.value();
            send(std::move(request));
        });
    }
    const bool text = kind == QLatin1String("texto");
    request.kind = text ? SendRequest::Kind::Text : SendRequest::Kind::Command;
    const QString key = text ? QStringLiteral("texto") : QStringLiteral("comando");
    // A body without the field is malformed; an empty text is the spine's
    // to refuse, in the words every door uses.
    if (!o->value(key).isString())
        return answer(apianswer::error(400, QStringLiteral("falta o texto ou o comando")));
    request.value = o->value(key).toString();
    send(std::move(request));
}

HttpResponse state(const LetreiroService &service)
{
    return apianswer::json(service.stateJson());
}

HttpResponse health(const LetreiroService &service)
{
    const bool healthy = service.isHealthy();
    HttpResponse a = apianswer::bytes(healthy ? QByteArrayLiteral("ok\n")
                                              : QByteArrayLiteral("uma linha não responde\n"),
                                      "text/plain; charset=utf-8");
    a.status = healthy ? 200 : 503;
    return a;
}

} // namespace panelsend
