// The page's side of the API: its files with the headers every answer
// carries, who is signed in, the effects for its buttons, and what a text
// becomes on a panel (the warnings while typing, the LED preview).
#include "httpapi.h"
#include "httpreply.h"
#include "letreiroservice.h"
#include "messagefile.h"
#include "rtfreader.h"
#include "schedule.h"
#include "simperiod.h"
#include "simwidth.h"
#include "textcheck.h"
#include "webpage.h"

#include <httplib.h>

#include <QDateTime>
#include <QDir>

using httpreply::body;
using httpreply::error;
using httpreply::json;
using httpreply::text;

int HttpApi::panelType(const QString &panel) const
{
    const ServerConfig::Panel *p = m_service.config().panel(panel);
    return p ? p->type : 0;
}

HttpApi::GuardedHandler HttpApi::idempotent(GuardedHandler handler)
{
    // One click, one send: a key seen before (for this user and route) gets
    // the first answer again, and nothing is sent twice.
    return [this, handler](const httplib::Request &req, httplib::Response &res,
                           const QString &user) {
        const std::string key = req.get_header_value("Idempotency-Key");
        if (key.size() > 200) {
            error(res, 400, QStringLiteral("Idempotency-Key longa demais"));
            return;
        }
        const IdempotencyCache::Answer a = m_idempotency.run(
            key.empty() ? QString() : user + u' ' + text(req.path) + u' ' + text(key), [&] {
                handler(req, res, user);
                return IdempotencyCache::Answer{res.status, QByteArray::fromStdString(res.body)};
            });
        res.status = a.status;
        res.set_content(a.body.toStdString(), "application/json; charset=utf-8");
    };
}

void HttpApi::pageRoutes()
{
    httplib::Server &s = *m_server;
    const auto pageFile = [](const httplib::Request &req, httplib::Response &res) {
        const auto f = webpage::file(text(req.path));
        if (!f) {
            error(res, 404, QStringLiteral("não encontrado"));
            return;
        }
        res.set_content(f->body.toStdString(), f->type.toStdString());
    };
    s.Get("/", pageFile);
    s.Get(R"(/[a-z]+\.(html|css|js))", pageFile);
    s.set_post_routing_handler([](const httplib::Request &, httplib::Response &res) {
        for (const auto &[name, value] : webpage::securityHeaders())
            res.set_header(name.toStdString(), value.toStdString());
    });

    s.Get("/api/sessao",
          guarded([](const httplib::Request &, httplib::Response &res, const QString &user) {
              json(res, QJsonObject{{QStringLiteral("usuario"), user}});
          }));

    s.Get("/api/efeitos", guarded([](const httplib::Request &, httplib::Response &res,
                                     const QString &) { json(res, textcheck::effectMenus()); }));

    // The page asks while the text is typed: a body holds a text of any
    // length, where an address would not.
    s.Post("/api/previa",
           guarded([this](const httplib::Request &req, httplib::Response &res, const QString &) {
               const auto o = body(req, res);
               if (!o) return;
               json(res,
                    textcheck::received(o->value(QStringLiteral("texto")).toString(),
                                        panelType(o->value(QStringLiteral("painel")).toString())));
           }));

    s.Get("/api/previa",
          guarded([this](const httplib::Request &req, httplib::Response &res, const QString &) {
              const QString typed = text(req.get_param_value("texto"));
              const int type = panelType(text(req.get_param_value("painel")));
              if (req.get_param_value("formato") == "json") {
                  json(res, textcheck::received(typed, type));
                  return;
              }
              bool ok = false;
              const int width = text(req.get_param_value("largura")).toInt(&ok);
              const double seconds =
                  req.has_param("ate") ? text(req.get_param_value("ate")).toDouble() : 30.0;
              if (!ok || !simwidth::isSupported(width) || !(seconds > 0 && seconds <= 600)) {
                  error(res, 400,
                        QStringLiteral("largura (5, 6, 9, 12, 15 ou 30) ou ate (até 600 s) "
                                       "inválidos"));
                  return;
              }
              // A typed text as the panel will receive it, not as it was typed.
              RichText message = textcheck::shown(typed, type);
              if (req.has_param("arquivo")) {
                  const QString name = text(req.get_param_value("arquivo"));
                  RtfReadResult r =
                      isMessageName(name)
                          ? messagefile::read(
                                QDir(m_service.config().messagesFolder).filePath(name))
                          : RtfReadResult{};
                  if (!r.ok) {
                      error(res, 404, QStringLiteral("mensagem não encontrada"));
                      return;
                  }
                  message = std::move(r.text);
              }
              const QByteArray svg = messageAnimation(message, width, qint64(seconds * 1000),
                                                      QDateTime::currentDateTime(), 20000);
              res.set_content(svg.toStdString(), "image/svg+xml");
          }));
}
