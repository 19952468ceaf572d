#include "httpengine.h"

#include "httpengine_p.h"
#include "openfiles.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <QtGlobal>

#include <thread>

Q_LOGGING_CATEGORY(lcEngine, "letreiro.http")

HttpResponse HttpResponse::error(int status, const QString &why)
{
    HttpResponse r;
    r.status = status;
    r.body = QJsonDocument(QJsonObject{{QStringLiteral("erro"), why}}).toJson(QJsonDocument::Compact);
    r.setHeader("Content-Type", "application/json; charset=utf-8");
    return r;
}

HttpResponse HttpResponse::busy()
{
    HttpResponse r = error(503, QStringLiteral("servidor ocupado; tente de novo"));
    r.setHeader("Retry-After", "1");
    return r;
}

using namespace httpengine;

void HttpEngine::State::accept()
{
    acceptor.async_accept([this](ErrorCode ec, tcp::socket socket) {
        if (!acceptor.is_open()) return;
        if (ec) return acceptFailed(ec);
        acceptFailing = false;
        admit(std::move(socket));
        // Every connection already waiting, now: one per turn of the loop
        // would let a thousand arriving together wait behind each other's
        // requests for seconds.
        for (int i = 0; !ec && i < 256; ++i) {
            tcp::socket next(ioc);
            acceptor.accept(next, ec);
            if (!ec) admit(std::move(next));
        }
        accept();
    });
}

void HttpEngine::State::acceptFailed(const ErrorCode &ec)
{
    // Once per spell of failures: a log line per try would flood the journal.
    if (!acceptFailing)
        qCWarning(lcEngine, "não foi possível aceitar conexões HTTP (%s); nova tentativa "
                 "a cada 100 ms",
                 ec == asio::error::no_descriptors ||
                         ec == boost::system::errc::too_many_files_open_in_system
                     ? "arquivos abertos demais"
                     : qPrintable(QStringLiteral("erro %1").arg(ec.value())));
    acceptFailing = true;
    acceptPause.expires_after(std::chrono::milliseconds(100));
    acceptPause.async_wait([this](ErrorCode) {
        if (acceptor.is_open()) accept();
    });
}

void HttpEngine::State::ended(Connection *c, const std::string &address)
{
    const auto it = perAddress.find(address);
    if (it != perAddress.end() && --it->second <= 0) perAddress.erase(it);
    // Kept alive by the caller's own handler until it returns.
    live.erase(c);
    count = int(live.size());
    if (stopping && live.empty()) {
        work.reset();
        if (stopped) std::exchange(stopped, nullptr)();
    }
}

HttpEngine::HttpEngine(const Limits &limits, Handler handler, HeaderCheck check)
    : m_state(std::make_shared<State>())
{
    m_state->self = m_state;
    m_state->limits = limits;
    m_state->handler = std::move(handler);
    m_state->check = std::move(check);
}

HttpEngine::~HttpEngine()
{
    stop();
}

quint16 HttpEngine::listen(const QString &host, quint16 port, QString *error)
{
    State &s = *m_state;
    ErrorCode ec;
    tcp::resolver resolver(s.ioc);
    const auto found =
        resolver.resolve(host.toStdString(), std::to_string(port),
                         tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    for (auto it = found.begin(); !ec && it != found.end(); ++it) {
        ErrorCode e;
        s.acceptor.open(it->endpoint().protocol(), e);
        if (!e) s.acceptor.set_option(tcp::acceptor::reuse_address(true), e);
        if (!e) s.acceptor.bind(it->endpoint(), e);
        if (!e) s.acceptor.listen(asio::socket_base::max_listen_connections, e);
        if (!e) s.acceptor.non_blocking(true, e);
        if (!e) break;
        s.acceptor.close(e);
    }
    if (ec || !s.acceptor.is_open()) {
        *error = QStringLiteral("não foi possível escutar em %1:%2").arg(host).arg(port);
        return 0;
    }
    const quint16 bound = s.acceptor.local_endpoint(ec).port();
    openfiles::fit(s.limits);
    s.accept();
    s.thread = std::thread([state = m_state.get()] { state->ioc.run(); });
    return bound;
}

void HttpEngine::requestStop(std::function<void()> stopped)
{
    asio::post(m_state->ioc, [s = m_state.get(), stopped = std::move(stopped)]() mutable {
        if (s->stopping) return;
        s->stopping = true;
        s->stopped = std::move(stopped);
        ErrorCode ignored;
        s->acceptor.close(ignored);
        s->acceptPause.cancel();
        s->dropIdle();
        if (s->live.empty()) {
            s->work.reset();
            if (s->stopped) std::exchange(s->stopped, nullptr)();
        }
    });
}

void HttpEngine::stop()
{
    if (!m_state->thread.joinable()) return;
    m_state->ioc.stop();
    m_state->thread.join();
}

int HttpEngine::connectionCount() const
{
    return m_state->count;
}
