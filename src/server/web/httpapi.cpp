#include "httpapi.h"

#include "apianswer.h"
#include "letreiroservice.h"
#include "logging.h"
#include "metrics.h"
#include "panelsend.h"
#include "serviceclock.h"
#include "threadhandoff.h"
#include "userstore.h"
#include "webpage.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonObject>
#include <QStringDecoder>
#include <QThread>
#include <QThreadPool>

#include <algorithm>

namespace
{

const QByteArray kCookie = QByteArrayLiteral("letreiro_sessao");
// Over https the browser keeps a __Host- cookie for this very host only: a
// sibling host cannot plant one.
const QByteArray kSecureCookie = QByteArrayLiteral("__Host-letreiro_sessao");

QByteArray cookieName(bool secure)
{
    return secure ? kSecureCookie : kCookie;
}
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

// The session's cookie; none when there are two (one was planted beside
// ours, and which is which cannot be told).
QByteArray sessionId(const HttpRequest &req)
{
    QByteArray found;
    int count = 0;
    for (const QByteArray &c : req.header("cookie").split(';')) {
        const QByteArray kv = c.trimmed();
        for (const QByteArray &name : {kCookie, kSecureCookie})
            if (kv.startsWith(name + '=')) {
                found = kv.mid(name.size() + 1);
                ++count;
            }
    }
    return count == 1 ? found : QByteArray();
}

} // namespace

// The page lives in this static library's resources.
static void initPageResource()
{
    Q_INIT_RESOURCE(server);
}

void HttpApi::Pools::setServiceCounts(QThreadPool &preview, QThreadPool &library)
{
    preview.setMaxThreadCount(std::clamp(QThread::idealThreadCount() - 1, 1, 4));
    library.setMaxThreadCount(1);
}

HttpApi::HttpApi(LetreiroService &service, UserStore &users, const Pools &pools)
    : m_service(service), m_users(users), m_context(new QObject(&service)),
      m_events(new HttpApiEvents(m_context)),
      m_guard(service.config().hostNames, service.config().proxies, service.config().secureCookie),
      m_limiter([&clock = service.clock()] { return clock.monotonicMs(); }),
      m_library(service.config().messagesFolder),
      m_sessions([&clock = service.clock()] { return clock.monotonicMs(); }),
      m_idempotency([&clock = service.clock()] { return clock.monotonicMs(); }),
      m_pools(pools)
{
    initPageResource();
    QFile usage(users.usagePath());
    if (usage.open(QIODevice::ReadOnly)) users.setUsage(usage.read(1 << 20));
    HttpEngine::Limits limits;
    limits.maxBody = 4 * 1024 * 1024;
    // The relays' connections take descriptors too, out of the same limit.
    for (const ServerConfig::Line &l : service.config().lines)
        if (!l.relayHost.isEmpty()) limits.reservedFiles += ServerConfig::kRelayMaxClients;
    m_engine = std::make_unique<HttpEngine>(
        limits,
        [this](HttpRequest req, Reply plain) {
            const Reply reply = [plain](const HttpResponse &r) { plain(secured(r)); };
            // The page never changes: answered here, without a trip to the
            // main thread. Nor does the health check wait for it: whether
            // the service's work is stuck is what it is asked.
            // A head office with no panels of its own is its page.
            const ServerConfig &config = m_service.config();
            if (req.method == "GET" && req.target == "/" && config.panels.isEmpty() &&
                !config.sede.host.isEmpty()) {
                HttpResponse r;
                r.status = 303;
                r.setHeader("Location", "/sede");
                return reply(r);
            }
            if (req.method == "GET" && !req.target.startsWith("/api/") &&
                segments(req.target).value(0) != QLatin1String("metrics"))
                return reply(pageFile(req));
            if (req.method == "GET" &&
                segments(req.target) == QStringList{QStringLiteral("api"), QStringLiteral("saude")})
                return reply(panelsend::health(m_service));
            handoff::queue(m_context, [this, req = std::move(req), reply] { route(req, reply); });
        },
        [this](const HttpRequest &req) -> std::optional<HttpResponse> {
            if (auto refused = checkHeader(req)) return secured(*refused);
            return std::nullopt;
        });
    watchUsers();
}

void HttpApi::watchUsers()
{
    // Each second on the service's clock: a password set or a user removed
    // with --usuario while the service runs ends that user's sessions and
    // tokens within a second or two.
    m_service.clock().after(kUsersWatchMs, m_context, [this] {
        m_sessions.endUsers(m_users.reloadIfChanged());
        // When each token was last used, for `--tokens`: off this thread.
        if (m_users.usageChanged())
            m_service.stateWriter().save(m_users.usagePath(), m_users.usageJson());
        watchUsers();
    });
}

HttpApi::~HttpApi()
{
    stop();
    // A password check or a preview still running uses the users and this.
    m_pools.login->waitForDone();
    m_pools.preview->waitForDone();
    m_pools.library->waitForDone();
}

Result<quint16> HttpApi::listen(const QString &host, quint16 port)
{
    if (!m_guard.invalidProxy().isEmpty())
        return Failure::invalid(
            QStringLiteral("valor inválido de proxies: \"%1\"").arg(m_guard.invalidProxy()));
    QString why;
    const quint16 taken = m_engine->listen(host, port, &why);
    if (!taken) return Failure::io(why);
    return taken;
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
    const bool open = (path.value(0) != QLatin1String("api") &&
                       path.value(0) != QLatin1String("metrics")) ||
                      (path.size() == 2 &&
                       (path[1] == QLatin1String("entrar") || path[1] == QLatin1String("saude")));
    if (!open && who(req).isEmpty()) return apianswer::error(401, QStringLiteral("entre primeiro"));
    return std::nullopt;
}

void HttpApi::route(const HttpRequest &req, const Reply &reply)
{
    if (RequestGuard::forwards(req) && !m_guard.fromProxy(req)) noticeProxy(req.peer);
    bool utf8 = true;
    const QStringList path = segments(req.target, &utf8);
    if (!utf8)
        return reply(apianswer::error(400, QStringLiteral("endereço inválido (não é UTF-8)")));
    if (path.value(0) != QLatin1String("api") && path != QStringList{QStringLiteral("metrics")})
        return reply(apianswer::error(404, QStringLiteral("não encontrado")));
    if (path.size() == 2 && path[1] == QLatin1String("entrar") && req.method == "POST")
        return login(req, reply);
    // Checked again here: the session may have ended while the body came.
    const QString user = who(req);
    if (user.isEmpty()) return reply(apianswer::error(401, QStringLiteral("entre primeiro")));
    if (path.value(0) == QLatin1String("metrics")) {
        QByteArray text = metrics::site(m_service);
        for (const auto &part : std::as_const(m_metrics))
            text += part();
        return reply(apianswer::bytes(text, "text/plain; version=0.0.4; charset=utf-8"));
    }
    if (const auto door = m_doors.constFind(path.value(1)); door != m_doors.cend())
        return (*door)(req, path.mid(2), user, reply);
    routeApi(req, path.mid(1), user, reply);
}

void HttpApi::addDoor(const QString &name, DoorRoute route)
{
    m_doors.insert(name, std::move(route));
}

void HttpApi::addMetrics(std::function<QByteArray()> part)
{
    m_metrics.append(std::move(part));
}

void HttpApi::noticeProxy(const QString &peer)
{
    // Once per peer (and for a bounded few): a proxy sends them with every request.
    if (m_proxiesNoticed.contains(peer) || m_proxiesNoticed.size() >= 16) return;
    m_proxiesNoticed.insert(peer);
    qCWarning(lcHttp,
              "cabeçalhos X-Forwarded-* de %s, que não está em proxies: ignorados, e todo "
              "cliente atrás dele conta como %s (nas entradas, no limite de tentativas, no "
              "cookie Secure); se é o seu proxy, ponha \"proxies = %s\" em [servidor]",
              qUtf8Printable(logging::printable(peer)), qUtf8Printable(logging::printable(peer)),
              qUtf8Printable(logging::printable(peer)));
}

void HttpApi::login(const HttpRequest &req, const Reply &reply)
{
    const auto o = apianswer::object(req.body);
    if (!o) return reply(apianswer::error(400, QStringLiteral("JSON inválido")));
    const QString user = o->value(QStringLiteral("usuario")).toString();
    const QString password = o->value(QStringLiteral("senha")).toString();
    const QString address = m_guard.clientAddress(req);
    if (m_loginsChecking >= kMaxLoginsChecking) return reply(apianswer::busy());
    const LoginLimiter::Attempt attempt = m_limiter.attempt(address, user);
    if (attempt.retryAfter) {
        HttpResponse r =
            apianswer::error(429, QStringLiteral("tentativas demais; espere um pouco"));
        r.setHeader("Retry-After", QByteArray::number(attempt.retryAfter));
        return reply(r);
    }
    ++m_loginsChecking;
    const bool secure = m_guard.secureCookie(req);
    // PBKDF2 takes tens of milliseconds on purpose: not on the main thread,
    // and on threads of its own, which no preview ever keeps busy.
    handoff::start(m_pools.login, [=] {
        const QString known = m_users.checkPassword(user, password);
        handoff::queue(m_context, [=] {
            --m_loginsChecking;
            if (known.isEmpty()) {
                qCWarning(lcHttp, "entrada recusada: usuário \"%s\" de %s",
                          qUtf8Printable(logging::printable(user, 64)),
                          qUtf8Printable(logging::printable(address)));
                return reply(apianswer::error(401, QStringLiteral("usuário ou senha incorretos")));
            }
            m_limiter.succeeded(attempt, address, user);
            HttpResponse r = apianswer::json(QJsonObject{{QStringLiteral("usuario"), known}});
            r.setHeader("Set-Cookie", cookieName(secure) + '=' + m_sessions.open(known).toLatin1() +
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
    const bool secure = m_guard.secureCookie(req);
    r.setHeader("Set-Cookie", cookieName(secure) + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0" +
                                  (secure ? "; Secure" : ""));
    reply(r);
}
