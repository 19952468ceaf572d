#include "httpreply.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>

namespace httpreply
{

void json(httplib::Response &res, const QJsonValue &v, int status)
{
    res.status = status;
    const QByteArray body = v.isArray()
                                ? QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact)
                                : QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact);
    res.set_content(body.toStdString(), "application/json; charset=utf-8");
}

void error(httplib::Response &res, int status, const QString &why)
{
    json(res, QJsonObject{{QStringLiteral("erro"), why}}, status);
}

std::optional<QJsonObject> body(const httplib::Request &req, httplib::Response &res)
{
    QJsonParseError e{};
    const QJsonDocument d = QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &e);
    if (e.error != QJsonParseError::NoError || !d.isObject()) {
        error(res, 400, QStringLiteral("JSON inválido"));
        return std::nullopt;
    }
    return d.object();
}

QString text(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

} // namespace httpreply
