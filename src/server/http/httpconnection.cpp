// One HTTP connection of the engine: its header and body read under their
// deadlines and bounds, its request handed over, its answer written back.
#include "httpengine_p.h"

#include <QString>

#include <limits>
#include <optional>

namespace httpengine
{
namespace
{
HttpResponse refusal(int status, const char *why)
{
    return HttpResponse::error(status, QString::fromUtf8(why));
}
} // namespace

// Answers a request once, from whatever thread its handler finishes on.
struct Responder {
    std::weak_ptr<HttpEngine::State> state;
    std::weak_ptr<Connection> connection;
    std::atomic<bool> done{false};

    void send(HttpResponse r);
    ~Responder()
    {
        if (!done) send(refusal(500, "erro interno"));
    }
};

class Connection : public std::enable_shared_from_this<Connection>
{
public:
    Connection(HttpEngine::State &s, tcp::socket socket, std::string address)
        : m_state(s), m_stream(std::move(socket)), m_buffer(2 * size_t(s.limits.maxHeaderBytes)),
          m_address(std::move(address))
    {
    }

    void readHeader()
    {
        m_idle = true;
        m_head = false;
        m_parser.emplace();
        m_parser->header_limit(uint32_t(m_state.limits.maxHeaderBytes));
        // The body's size is judged once the whole header is known, after
        // what it says about its encoding.
        m_parser->body_limit(std::numeric_limits<std::uint64_t>::max());
        m_stream.expires_after(std::chrono::milliseconds(m_state.limits.headerMs));
        http::async_read_header(
            m_stream, m_buffer, *m_parser,
            [self = shared_from_this()](ErrorCode ec, size_t) { self->onHeader(ec); });
    }

    // Drops a connection that waits for its next request (the server stops).
    void dropIfIdle()
    {
        if (m_idle) m_stream.socket().close();
    }

    void answer(HttpResponse r, bool close = false)
    {
        if (m_closed) return;
        m_idle = false;
        m_response = {};
        m_response.version(11);
        m_response.result(unsigned(r.status));
        for (const auto &h : r.headers)
            m_response.set(beast::string_view(h.first.constData(), size_t(h.first.size())),
                           beast::string_view(h.second.constData(), size_t(h.second.size())));
        m_response.body().assign(r.body.constData(), size_t(r.body.size()));
        const bool keep = !close && !m_state.stopping && m_parser && m_parser->keep_alive();
        m_response.keep_alive(keep);
        m_response.prepare_payload();
        // HEAD: what GET would answer, its length included, without the body.
        if (m_head) m_response.body().clear();
        m_stream.expires_after(std::chrono::milliseconds(m_state.limits.writeMs));
        http::async_write(m_stream, m_response,
                          [self = shared_from_this(), keep, close](ErrorCode ec, size_t) {
                              if (ec) return self->end();
                              if (close) return self->drain();
                              if (keep) return self->readHeader();
                              self->m_stream.socket().shutdown(tcp::socket::shutdown_send, ec);
                              self->end();
                          });
    }

private:
    void onHeader(ErrorCode ec)
    {
        m_idle = false;
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
            return answer(refusal(431, "cabeçalho grande demais"), true);
        if (ec == http::error::body_limit) return answer(refusal(413, "corpo grande demais"), true);
        // The client went, or was too slow: nobody to answer.
        if (ec == http::error::end_of_stream || ec == beast::error::timeout ||
            (ec && ec.category() != make_error_code(http::error::end_of_stream).category()))
            return end();
        if (ec) return answer(refusal(400, "pedido inválido"), true);
        const auto &h = m_parser->get();
        m_request = {};
        m_request.method = QByteArray(h.method_string().data(), int(h.method_string().size()));
        // Answered wherever GET is, as GET is, and without a body.
        if (m_request.method == "HEAD") {
            m_head = true;
            m_request.method = "GET";
        }
        m_request.target = QByteArray(h.target().data(), int(h.target().size()));
        m_request.peer = QString::fromStdString(m_address);
        for (const auto &f : h) {
            if (m_request.headers.size() >= m_state.limits.maxHeaderFields)
                return answer(refusal(431, "campos de cabeçalho demais"), true);
            m_request.headers.append(
                {QByteArray(f.name_string().data(), int(f.name_string().size())).toLower(),
                 QByteArray(f.value().data(), int(f.value().size()))});
        }
        // Anything but plain "chunked" (a list, "identity", two lines) would
        // leave where the body ends to guessing: the next request could be
        // read out of it.
        QByteArrayList encodings;
        for (const auto &[name, value] : std::as_const(m_request.headers))
            if (name == "transfer-encoding") encodings.append(value.trimmed());
        if (!encodings.isEmpty() &&
            (encodings.size() > 1 || encodings.first().compare("chunked", Qt::CaseInsensitive) != 0))
            return answer(refusal(400, "Transfer-Encoding não aceito"), true);
        if (const auto refused = refuseHeader()) return answer(*refused, !m_parser->is_done());
        if (m_parser->is_done()) return dispatch();
        if (m_request.header("expect").compare("100-continue", Qt::CaseInsensitive) == 0) {
            auto cont =
                std::make_shared<http::response<http::empty_body>>(http::status::continue_, 11);
            return http::async_write(m_stream, *cont,
                                     [self = shared_from_this(), cont](ErrorCode ec, size_t) {
                                         if (ec) return self->end();
                                         self->readBody();
                                     });
        }
        readBody();
    }

    // What the engine itself refuses once the header is whole, then what the
    // server refuses; reserves the body's room among all bodies in flight.
    std::optional<HttpResponse> refuseHeader()
    {
        const QByteArray encoding = m_request.header("content-encoding").trimmed();
        if (!encoding.isEmpty() && encoding.compare("identity", Qt::CaseInsensitive) != 0)
            return refusal(415, "corpo comprimido não é aceito");
        if (m_parser->chunked()) return refusal(411, "o corpo precisa de Content-Length");
        const qint64 length = qint64(m_parser->content_length().value_or(0));
        if (length > m_state.limits.maxBody) return refusal(413, "corpo grande demais");
        if (m_state.bodiesInFlight + length > m_state.limits.maxBodiesInFlight) {
            return HttpResponse::busy();
        }
        if (m_state.check)
            if (auto r = m_state.check(m_request)) return r;
        m_reserved = length;
        m_state.bodiesInFlight += length;
        return std::nullopt;
    }

    void readBody()
    {
        m_parser->body_limit(uint64_t(m_state.limits.maxBody));
        m_stream.expires_after(std::chrono::milliseconds(m_state.limits.bodyMs));
        http::async_read(m_stream, m_buffer, *m_parser,
                         [self = shared_from_this()](ErrorCode ec, size_t) {
                             self->release();
                             if (ec == http::error::body_limit)
                                 return self->answer(refusal(413, "corpo grande demais"), true);
                             if (ec) return self->end();
                             self->dispatch();
                         });
    }

    void dispatch()
    {
        m_stream.expires_never();
        const std::string &body = m_parser->get().body();
        m_request.body = QByteArray(body.data(), int(body.size()));
        m_parser->get().body().clear();
        auto responder = std::make_shared<Responder>();
        responder->connection = weak_from_this();
        responder->state = m_state.self;
        HttpEngine::Reply reply = [responder](HttpResponse r) { responder->send(std::move(r)); };
        try {
            m_state.handler(std::move(m_request), std::move(reply));
        } catch (...) {
            responder->send(refusal(500, "erro interno"));
        }
    }

    // After a refusal whose body was never read: the client's bytes still
    // coming are read and dropped for a moment, so that closing does not
    // reset the connection before the client has read the answer.
    void drain()
    {
        ErrorCode ignored;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        m_stream.expires_after(std::chrono::seconds(2));
        drainSome();
    }
    void drainSome()
    {
        m_stream.async_read_some(asio::buffer(m_scratch),
                                 [self = shared_from_this()](ErrorCode ec, size_t) {
                                     if (ec) return self->end();
                                     self->drainSome();
                                 });
    }

    void release()
    {
        m_state.bodiesInFlight -= m_reserved;
        m_reserved = 0;
    }

    void end()
    {
        if (m_closed) return;
        m_closed = true;
        release();
        ErrorCode ignored;
        m_stream.socket().close(ignored);
        m_state.ended(this, m_address);
    }

    HttpEngine::State &m_state;
    beast::tcp_stream m_stream;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    http::response<http::string_body> m_response;
    HttpRequest m_request;
    std::string m_address;
    std::array<char, 4096> m_scratch{};
    qint64 m_reserved = 0;
    bool m_idle = true;
    bool m_closed = false;
    bool m_head = false; // the request is a HEAD
};

void Responder::send(HttpResponse r)
{
    if (done.exchange(true)) return;
    const auto s = state.lock();
    if (!s) return;
    asio::post(s->ioc, [c = connection, r = std::move(r)]() mutable {
        if (const auto p = c.lock()) p->answer(std::move(r));
    });
}

} // namespace httpengine

void HttpEngine::State::admit(tcp::socket socket)
{
    ErrorCode ec;
    const std::string address = socket.remote_endpoint(ec).address().to_string();
    // Over a limit the connection is closed at once: waiting in the backlog
    // would hold the kernel's room for those who belong.
    if (ec || live.size() >= size_t(limits.maxConnections) ||
        perAddress[address] >= limits.maxPerAddress)
        return;
    socket.set_option(tcp::no_delay(true), ec);
    auto c = std::make_shared<Connection>(*this, std::move(socket), address);
    live.emplace(c.get(), c);
    ++perAddress[address];
    count = int(live.size());
    c->readHeader();
}

void HttpEngine::State::dropIdle()
{
    // Copies: dropping a connection may end it and change the map.
    std::vector<std::shared_ptr<Connection>> all;
    for (const auto &c : live)
        all.push_back(c.second);
    for (const auto &c : all)
        c->dropIfIdle();
}
