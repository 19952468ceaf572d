#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>
#include <string>

namespace httplib
{
struct Request;
struct Response;
} // namespace httplib

// The API's answers in JSON, and the request's parts as Qt reads them.
namespace httpreply
{

void json(httplib::Response &res, const QJsonValue &v, int status = 200);
// {"erro": why} with that status.
void error(httplib::Response &res, int status, const QString &why);
// The request's JSON object, or nothing (and 400 said).
std::optional<QJsonObject> body(const httplib::Request &req, httplib::Response &res);
QString text(const std::string &s);

} // namespace httpreply
