#pragma once

#include "httpengine.h"
#include "result.h"
#include "sending.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>

// The API's answers, built here and nowhere else: JSON, UTF-8; errors as
// {"erro": why}; a send's result as SendResult says it, with the status
// that goes with it.
namespace apianswer
{

inline HttpResponse json(const QJsonValue &v, int status = 200)
{
    HttpResponse r;
    r.status = status;
    r.body = v.isArray() ? QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact)
                         : QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact);
    r.setHeader("Content-Type", "application/json; charset=utf-8");
    return r;
}

inline HttpResponse error(int status, const QString &why)
{
    return HttpResponse::error(status, why);
}

// A failure with the status that says its kind.
inline HttpResponse failure(const Failure &f)
{
    switch (f.kind) {
    case Failure::Kind::Invalid: return error(400, f.why);
    case Failure::Kind::NotFound: return error(404, f.why);
    case Failure::Kind::Forbidden: return error(403, f.why);
    case Failure::Kind::TooLarge: return error(413, f.why);
    case Failure::Kind::Io: return error(500, f.why);
    }
    return error(500, f.why);
}

// A send's result: 200 once it reached the line (sent, failed, replaced),
// 504 when it waited too long, 503 while stopping or for a full line, 404
// for what does not exist, 400 for what cannot be sent, 422 for a strict
// send the panel would show otherwise. The body is the result's own JSON,
// with "erro" beside "motivo" for a refusal.
inline HttpResponse sent(const SendResult &r)
{
    using Refusal = SendResult::Refusal;
    QJsonObject o = r.json();
    int status = 200;
    switch (r.end) {
    case SendEnd::Expired: status = 504; break;
    case SendEnd::Stopping: status = 503; break;
    case SendEnd::Refused:
        status = r.refusal == Refusal::Unknown  ? 404
                 : r.refusal == Refusal::Invalid ? 400
                 : r.refusal == Refusal::Strict  ? 422
                                                 : 503;
        o.insert(QStringLiteral("erro"), r.reason);
        break;
    default: break;
    }
    return json(o, status);
}

// A send refused before it reached the spine (a library message that could
// not be read), in the words of a send's result and with the failure's status.
inline HttpResponse refused(const Failure &f)
{
    QJsonObject o = SendResult::refused(SendResult::Refusal::Invalid, f.why).json();
    o.insert(QStringLiteral("erro"), f.why);
    HttpResponse r = json(o);
    r.status = failure(f).status;
    return r;
}

// More already in hand than the service takes on: try again in a second.
inline HttpResponse busy()
{
    return HttpResponse::busy();
}

inline HttpResponse bytes(const QByteArray &body, const QByteArray &type)
{
    HttpResponse r;
    r.body = body;
    r.setHeader("Content-Type", type);
    return r;
}

// A request body's JSON object, or nothing.
inline std::optional<QJsonObject> object(const QByteArray &body)
{
    QJsonParseError e{};
    const QJsonDocument d = QJsonDocument::fromJson(body, &e);
    if (e.error != QJsonParseError::NoError || !d.isObject()) return std::nullopt;
    return d.object();
}

} // namespace apianswer
