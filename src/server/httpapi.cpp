#include "httpapi.h"

#include "apianswer.h"
#include "apiroutes.h"
#include "letreiroservice.h"
#include "relayserver.h"
#include "threadhandoff.h"
#include "userstore.h"
#include "webpage.h"

#include <QDeadlineTimer>
#include <QJsonObject>
#include <QStringDecoder>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>

namespace
{

const QByteArray kCookie = QByteArrayLiteral("letreiro_sessao");
// Password checks waiting for the pool at once; beyond, the client waits.
constexpr int kMaxLoginsChecking = 16;

// The path's segments, each decoded on its own (so "%2F" stays inside one)
// and whole: a leading U+FEFF stays, for the names to refuse, rather than
// vanish and name another file. *utf8 is false when a segment's bytes are
// not UTF-8: no character would say what was sent.
QStringList segments(const QByteArray &target, bool *utf8 = nullptr)
{
    QStringList out;
    for (const QByteArray &s : target.split('?').first().split('/')) {
        if (s.isEmpty()) continue;
        const QByteArray bytes = QByteArray::fromPercentEncoding(s);
        QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
        const QString text = decode(bytes);
        // What is not UTF-8 comes back as U+FFFD, never as the same bytes.
        if (utf8 && text.toUtf8() != bytes) *utf8 = false;
        out.append(text);
    }
    return out;
}

// Every answer carries the page's security headers, the API's too.
HttpResponse secured(HttpResponse r)
{
    for (const auto &[name, value] : webpage::securityHeaders())
        r.setHeader(name, value);
    return r;
}

// A file of the page ("/" is the page itself), or 404.
HttpResponse pageFile(const HttpRequest &req)
{
    const auto f = webpage::file(QString::fromUtf8(req.target.split('?').first()));
    return f ? apianswer::bytes(f->body, f->type)
             : apianswer::error(404, QStringLiteral("não encontrado"));
}

QByteArray sessionId(const HttpRequest &req)
{
    for (const QByteArray &c : req.header("cookie").split(';')) {
        const QByteArray kv = c.trimmed();
        if (kv.startsWith(kCookie + '=')) return kv.mid(kCookie.size() + 1);
    }
    return {};
}

// A name as the client typed it, safe in one line of the log.
QByteArray printable(const QString &name)
{
    QString out = name.left(64);
    for (QChar &c : out)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) c = u'?';
    return out.toUtf8();
}

} // namespace

// The page lives in this static library's resources.
static void initPageResource()
{
    Q_INIT_RESOURCE(server);
}

HttpApi::HttpApi(LetreiroService &service, UserStore &users)
    : m_service(service), m_users(users), m_context(new QObject(&service)),
      m_events(new HttpApiEvents(m_context)), m_usersWatch(new QTimer(m_context)),
      m_guard(service.config().hostNames, service.config().proxies, service.config().secureCookie),
      m_limiter([] { return QDateTime::currentMSecsSinceEpoch(); }),
      m_library(service.config().messagesFolder),
      m_idempotency([] { return QDeadlineTimer::current().deadline(); })
{
    initPageResource();
    // The main thread, the HTTP engine's and a login's keep a core between
    // them; a few previews at once are plenty for one page's users.
    m_previewPool.setMaxThreadCount(std::clamp(QThread::idealThreadCount() - 1, 1, 4));
    m_libraryPool.setMaxThreadCount(1);
    HttpEngine::Limits limits;
    limits.maxBody = 4 * 1024 * 1024;
    // The relays' connections take descriptors too, out of the same limit.
    for (const ServerConfig::Line &l : service.config().lines)
        if (!l.relayHost.isEmpty()) limits.reservedFiles += RelayServer::kMaxClients;
    m_engine = std::make_unique<HttpEngine>(
        limits,
        [this](HttpRequest req, Reply plain) {
            const Reply reply = [plain](const HttpResponse &r) { plain(secured(r)); };
            // The page never changes: answered here, without a trip to the
            // main thread. Nor does the health check wait for it: whether
            // the service's work is stuck is what it is asked.
            if (req.method == "GET" && !req.target.startsWith("/api/")) return reply(pageFile(req));
            if (req.method == "GET" &&
                segments(req.target) == QStringList{QStringLiteral("api"), QStringLiteral("saude")})
                return reply(apiroutes::health(m_service));
            handoff::queue(m_context, [this, req = std::move(req), reply] { route(req, reply); });
        },
        [this](const HttpRequest &req) -> std::optional<HttpResponse> {
            if (auto refused = checkHeader(req)) return secured(*refused);
            return std::nullopt;
        });
    // A password set or a user removed with --usuario while the service
    // runs ends that user's sessions within a second or two.
    m_usersWatch->setInterval(1000);
    QObject::connect(m_usersWatch, &QTimer::timeout, m_context,
                     [this] { m_sessions.endUsers(m_users.reloadIfChanged()); });
    m_usersWatch->start();
}

HttpApi::~HttpApi()
{
    stop();
    // A password check or a preview still running uses the users and this.
    m_loginPool.waitForDone();
    m_previewPool.waitForDone();
    m_libraryPool.waitForDone();
}

quint16 HttpApi::listen(const QString &host, quint16 port, QString *why)
{
    if (!m_guard.invalidProxy().isEmpty()) {
        *why = QStringLiteral("valor inválido de proxies: \"%1\"").arg(m_guard.invalidProxy());
        return 0;
    }
    return m_engine->listen(host, port, why);
}

void HttpApi::requestStop()
{
    m_engine->requestStop(
        [this] { handoff::queue(m_context, [this] { Q_EMIT m_events->stopped(); }); });
}

void HttpApi::stop()
{
    m_engine->stop();
}

QString HttpApi::who(const HttpRequest &req) const
{
    if (RequestGuard::hasBearer(req))
        return m_users.checkToken(QString::fromLatin1(RequestGuard::bearerToken(req)));
    const QByteArray sid = sessionId(req);
    return sid.isEmpty() ? QString() : m_sessions.user(QString::fromLatin1(sid));
}

std::optional<HttpResponse> HttpApi::checkHeader(const HttpRequest &req) const
{
    if (auto refused = m_guard.refuse(req)) return refused;
    const QStringList path = segments(req.target);
    // No login for the page, the login itself and the health check (load
    // balancers and watchdogs have no account).
    const bool open = path.value(0) != QLatin1String("api") ||
                      (path.size() == 2 &&
                       (path[1] == QLatin1String("entrar") || path[1] == QLatin1String("saude")));
    if (!open && who(req).isEmpty()) return apianswer::error(401, QStringLiteral("entre primeiro"));
    return std::nullopt;
}

void HttpApi::route(const HttpRequest &req, const Reply &reply)
{
    bool utf8 = true;
    const QStringList path = segments(req.target, &utf8);
    if (!utf8)
        return reply(apianswer::error(400, QStringLiteral("endereço inválido (não é UTF-8)")));
    if (path.value(0) != QLatin1String("api"))
        return reply(apianswer::error(404, QStringLiteral("não encontrado")));
    if (path.size() == 2 && path[1] == QLatin1String("entrar") && req.method == "POST")
        return login(req, reply);
    // Checked again here: the session may have ended while the body came.
    const QString user = who(req);
    if (user.isEmpty()) return reply(apianswer::error(401, QStringLiteral("entre primeiro")));
    routeApi(req, path.mid(1), user, reply);
}

void HttpApi::login(const HttpRequest &req, const Reply &reply)
{
    const auto o = apianswer::object(req.body);
    if (!o) return reply(apianswer::error(400, QStringLiteral("JSON inválido")));
    const QString user = o->value(QStringLiteral("usuario")).toString();
    const QString password = o->value(QStringLiteral("senha")).toString();
    const QString address = m_guard.clientAddress(req);
    if (const int wait = m_limiter.retryAfter(address, user)) {
        HttpResponse r =
            apianswer::error(429, QStringLiteral("tentativas demais; espere um pouco"));
        r.setHeader("Retry-After", QByteArray::number(wait));
        return reply(r);
    }
    if (m_loginsChecking >= kMaxLoginsChecking) return reply(apianswer::busy());
    ++m_loginsChecking;
    const bool secure = m_guard.secureCookie(req);
    // PBKDF2 takes tens of milliseconds on purpose: not on the main thread,
    // and on threads of its own, which no preview ever keeps busy.
    handoff::start(&m_loginPool, [=] {
        const QString known = m_users.checkPassword(user, password);
        handoff::queue(m_context, [=] {
            --m_loginsChecking;
            if (known.isEmpty()) {
                m_limiter.failed(address, user);
                qWarning("letreiro-servidor: entrada recusada: usuário \"%s\" de %s",
                         printable(user).constData(), qPrintable(address));
                return reply(apianswer::error(401, QStringLiteral("usuário ou senha incorretos")));
            }
            HttpResponse r = apianswer::json(QJsonObject{{QStringLiteral("usuario"), known}});
            r.setHeader("Set-Cookie", kCookie + '=' + m_sessions.open(known).toLatin1() +
                                          "; Path=/; HttpOnly; SameSite=Strict" +
                                          (secure ? "; Secure" : ""));
            reply(r);
        });
    });
}

void HttpApi::logout(const HttpRequest &req, const Reply &reply)
{
    m_sessions.close(QString::fromLatin1(sessionId(req)));
    HttpResponse r = apianswer::json(QJsonObject{{QStringLiteral("ok"), true}});
    r.setHeader("Set-Cookie", kCookie + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0" +
                                  (m_guard.secureCookie(req) ? "; Secure" : ""));
    reply(r);
}
