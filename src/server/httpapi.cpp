#include "httpapi.h"

#include "apiroutes.h"
#include "encoder.h"
#include "flatten.h"
#include "letreiroservice.h"
#include "messagefile.h"
#include "rtfreader.h"
#include "schedule.h"
#include "sessions.h"
#include "simperiod.h"
#include "simwidth.h"
#include "userstore.h"
#include "vocabulary.h"

#include <httplib.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <future>

namespace
{

constexpr size_t kMaxBody = 4 * 1024 * 1024;
const char *kCookie = "letreiro_sessao";

void json(httplib::Response &res, const QJsonValue &v, int status = 200)
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

// The request's JSON object, or nothing (and 400 said).
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

void send(httplib::Response &res, const ApiAnswer &a)
{
    res.status = a.status;
    res.set_content(a.body.toStdString(), a.contentType.toStdString());
}

} // namespace

// The page lives in this static library's resources.
static void initPageResource()
{
    Q_INIT_RESOURCE(server);
}

HttpApi::HttpApi(LetreiroService &service, UserStore &users)
    : m_service(service), m_users(users), m_context(new QObject(&service)),
      m_events(new HttpApiEvents(m_context)), m_server(std::make_unique<httplib::Server>())
{
    initPageResource();
    QFile page(QStringLiteral(":/server/index.html"));
    if (page.open(QIODevice::ReadOnly)) m_page = page.readAll();
    m_server->set_payload_max_length(kMaxBody);
    // Answers go out at once, not after the client's delayed acknowledgement.
    m_server->set_tcp_nodelay(true);
    m_server->set_read_timeout(10, 0);
    m_server->set_write_timeout(10, 0);
    // Many clients may wait for one line at a time: enough threads that
    // they queue on the line, not on the server.
    m_server->new_task_queue = [] { return new httplib::ThreadPool(64); };
    m_server->set_exception_handler(
        [](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
            error(res, 500, QStringLiteral("erro interno"));
        });
    routes();
}

HttpApi::~HttpApi()
{
    stop();
}

quint16 HttpApi::listen(const QString &host, quint16 port, QString *why)
{
    int bound = port;
    if (port == 0)
        bound = m_server->bind_to_any_port(host.toStdString());
    else if (!m_server->bind_to_port(host.toStdString(), port))
        bound = -1;
    if (bound <= 0) {
        *why = QStringLiteral("não foi possível escutar em %1:%2").arg(host).arg(port);
        return 0;
    }
    m_thread = std::thread([this] {
        // Returns once every request in hand has had its answer.
        m_server->listen_after_bind();
        QMetaObject::invokeMethod(
            m_context, [this] { Q_EMIT m_events->stopped(); }, Qt::QueuedConnection);
    });
    return quint16(bound);
}

void HttpApi::requestStop()
{
    // Takes no new connection; the requests in hand go on, their exchanges
    // answered on the main thread, whose loop keeps running until stopped().
    m_server->stop();
}

void HttpApi::stop()
{
    if (!m_thread.joinable()) return;
    m_server->stop();
    m_thread.join();
}

template <typename Result, typename F> Result HttpApi::onMain(F f)
{
    auto promise = std::make_shared<std::promise<Result>>();
    std::future<Result> future = promise->get_future();
    QMetaObject::invokeMethod(
        m_context, [f, promise] { f([promise](Result r) { promise->set_value(std::move(r)); }); },
        Qt::QueuedConnection);
    return future.get();
}

QString HttpApi::who(const httplib::Request &req)
{
    const QString auth = text(req.get_header_value("Authorization"));
    if (auth.startsWith(QLatin1String("Bearer "))) return m_users.checkToken(auth.mid(7).trimmed());
    const QString cookies = text(req.get_header_value("Cookie"));
    for (const QString &c : cookies.split(u';')) {
        const QString kv = c.trimmed();
        if (!kv.startsWith(QLatin1String(kCookie) + u'=')) continue;
        const QString user = m_sessions.user(kv.section(u'=', 1));
        if (!user.isEmpty()) return user;
    }
    return {};
}

void HttpApi::routes()
{
    httplib::Server &s = *m_server;
    s.Get("/", [this](const httplib::Request &, httplib::Response &res) {
        res.set_content(m_page.toStdString(), "text/html; charset=utf-8");
        res.set_header(
            "Content-Security-Policy",
            "default-src 'self'; img-src 'self' data:; style-src 'self' 'unsafe-inline'; "
            "script-src 'self' 'unsafe-inline'");
    });

    s.Post("/api/entrar", [this](const httplib::Request &req, httplib::Response &res) {
        const QString address = text(req.remote_addr);
        if (m_sessions.blocked(address)) {
            error(res, 429, QStringLiteral("tentativas demais; espere um minuto"));
            return;
        }
        const auto o = body(req, res);
        if (!o) return;
        const QString user = m_users.checkPassword(o->value(QStringLiteral("usuario")).toString(),
                                                   o->value(QStringLiteral("senha")).toString());
        if (user.isEmpty()) {
            m_sessions.failed(address);
            error(res, 401, QStringLiteral("usuário ou senha incorretos"));
            return;
        }
        const QString sid = m_sessions.open(user);
        res.set_header("Set-Cookie", (QStringLiteral("%1=%2; Path=/; HttpOnly; SameSite=Strict")
                                          .arg(QLatin1String(kCookie), sid))
                                         .toStdString());
        json(res, QJsonObject{{QStringLiteral("usuario"), user}});
    });

    // Every other route of the API needs a session or a token.
    const auto guarded = [this](auto handler) {
        return [this, handler](const httplib::Request &req, httplib::Response &res) {
            const QString user = who(req);
            if (user.isEmpty()) {
                error(res, 401, QStringLiteral("entre primeiro"));
                return;
            }
            handler(req, res, user);
        };
    };

    s.Post("/api/sair",
           guarded([this](const httplib::Request &req, httplib::Response &res, const QString &) {
               const QString cookies = text(req.get_header_value("Cookie"));
               for (const QString &c : cookies.split(u';'))
                   m_sessions.close(c.trimmed().section(u'=', 1));
               res.set_header("Set-Cookie", (QLatin1String(kCookie) +
                                             QStringLiteral("=; Path=/; HttpOnly; "
                                                            "SameSite=Strict; Max-Age=0"))
                                                .toStdString());
               json(res, QJsonObject{{QStringLiteral("ok"), true}});
           }));

    s.Get("/api/paineis",
          guarded([this](const httplib::Request &, httplib::Response &res, const QString &) {
              json(res, onMain<QJsonArray>([this](auto done) { done(m_service.panelsJson()); }));
          }));

    s.Get("/api/efeitos",
          guarded([](const httplib::Request &, httplib::Response &res, const QString &) {
              // The tags the panel knows (those with a code), in menu order.
              QJsonArray names;
              for (const vocabulary::Tag &t : vocabulary::tags())
                  if (t.code >= 0 && !names.contains(t.text())) names.append(t.text());
              json(res, names);
          }));

    s.Post(
        R"(/api/paineis/([^/]+)/(texto|mensagem|comando))",
        guarded([this](const httplib::Request &req, httplib::Response &res, const QString &user) {
            const QString panel = text(req.matches[1]), kind = text(req.matches[2]);
            const QByteArray body = QByteArray::fromStdString(req.body);
            send(res, onMain<ApiAnswer>([&, this](auto done) {
                     apiroutes::sendToPanel(m_service, panel, kind, body, user, done);
                 }));
        }));

    // The panel commands, for the page's buttons: the same table the API,
    // the agenda and MQTT read.
    s.Get("/api/comandos",
          guarded([](const httplib::Request &, httplib::Response &res, const QString &) {
              QJsonArray commands;
              for (const PanelCommand &c : panelCommands())
                  commands.append(QJsonObject{{QStringLiteral("nome"), c.name},
                                              {QStringLiteral("linha_toda"), c.wholeLine}});
              json(res, commands);
          }));

    s.Get("/api/estado",
          guarded([this](const httplib::Request &, httplib::Response &res, const QString &) {
              send(res,
                   onMain<ApiAnswer>([this](auto done) { done(apiroutes::state(m_service)); }));
          }));

    // For load balancers and watchdogs: no login, and no wait for the
    // service's thread, whose being stuck is what it is asked about.
    s.Get("/api/saude", [this](const httplib::Request &, httplib::Response &res) {
        send(res, apiroutes::health(m_service));
    });

    s.Get("/api/mensagens",
          guarded([this](const httplib::Request &, httplib::Response &res, const QString &) {
              QJsonArray names;
              for (const QString &n :
                   QDir(m_service.config().messagesFolder)
                       .entryList({QStringLiteral("*.msg")}, QDir::Files, QDir::Name))
                  names.append(n);
              json(res, names);
          }));

    s.Get(R"(/api/mensagens/([^/]+))",
          guarded([this](const httplib::Request &req, httplib::Response &res, const QString &) {
              const QString name = text(req.matches[1]);
              if (!isMessageName(name)) {
                  error(res, 400, QStringLiteral("nome de mensagem inválido"));
                  return;
              }
              const SmallFileRead f =
                  messagefile::readSmallFile(QDir(m_service.config().messagesFolder).filePath(name),
                                             messagefile::kMaxBytes, true);
              if (!f.ok) {
                  error(res, 404, f.error);
                  return;
              }
              res.set_content(f.data.toStdString(), "application/rtf");
          }));

    s.Put(R"(/api/mensagens/([^/]+))",
          guarded([this](const httplib::Request &req, httplib::Response &res, const QString &) {
              const QString name = text(req.matches[1]);
              const QByteArray rtf = QByteArray::fromStdString(req.body);
              if (!isMessageName(name) || !readRtf(rtf).ok) {
                  error(res, 400,
                        QStringLiteral("nome inválido ou o conteúdo não é uma mensagem RTF"));
                  return;
              }
              QDir().mkpath(m_service.config().messagesFolder);
              const QString why = messagefile::saveFile(
                  QDir(m_service.config().messagesFolder).filePath(name), rtf);
              if (!why.isEmpty()) {
                  error(res, 500, why);
                  return;
              }
              json(res, QJsonObject{{QStringLiteral("ok"), true}});
          }));

    s.Get("/api/previa",
          guarded([this](const httplib::Request &req, httplib::Response &res, const QString &) {
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
              RichText message;
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
              } else {
                  message = typedMessage(text(req.get_param_value("texto")));
              }
              const QByteArray svg = messageAnimation(message, width, qint64(seconds * 1000),
                                                      QDateTime::currentDateTime(), 20000);
              res.set_content(svg.toStdString(), "image/svg+xml");
          }));

    s.Get("/api/agenda",
          guarded([this](const httplib::Request &, httplib::Response &res, const QString &) {
              json(res, onMain<QJsonArray>([this](auto done) { done(m_service.scheduleJson()); }));
          }));

    // The editable entries, whole: [{"nome", "quando", "dias" | "datas",
    // "paineis", "texto" | "mensagem" | "comando"}], as in the INI file.
    s.Put("/api/agenda",
          guarded([this](const httplib::Request &req, httplib::Response &res, const QString &) {
              const QJsonDocument d = QJsonDocument::fromJson(QByteArray::fromStdString(req.body));
              if (!d.isArray()) {
                  error(res, 400, QStringLiteral("esperava uma lista de entradas"));
                  return;
              }
              QList<ScheduleEntry> entries;
              QString why;
              for (const QJsonValue &v : d.array()) {
                  const auto e = ScheduleEntry::fromJson(v.toObject(), &why);
                  if (!e) break;
                  entries.append(*e);
              }
              if (why.isEmpty())
                  why = onMain<QString>([&, this](auto done) {
                      QString e;
                      done(m_service.setSchedule(entries, &e) ? QString() : e);
                  });
              if (!why.isEmpty()) {
                  error(res, 400, why);
                  return;
              }
              json(res, onMain<QJsonArray>([this](auto done) { done(m_service.scheduleJson()); }));
          }));

    s.Get("/api/historico",
          guarded([this](const httplib::Request &, httplib::Response &res, const QString &) {
              json(res, onMain<QJsonArray>([this](auto done) { done(m_service.historyJson()); }));
          }));
}
