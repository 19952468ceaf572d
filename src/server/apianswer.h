#pragma once

#include "httpengine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>

// The API's answers: JSON, UTF-8; errors as {"erro": why}.
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
    return json(QJsonObject{{QStringLiteral("erro"), why}}, status);
}

// More already in hand than the service takes on: try again in a second.
inline HttpResponse busy()
{
    HttpResponse r = error(503, QStringLiteral("servidor ocupado; tente de novo"));
    r.setHeader("Retry-After", "1");
    return r;
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
