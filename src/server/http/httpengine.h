#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The engine's own log (letreiro.http): the service's other parts log
// through theirs.
Q_DECLARE_LOGGING_CATEGORY(lcEngine)

// One request as the engine read it: names of headers in lower case, the
// body whole (bounded by the engine's limits).
struct HttpRequest {
    QByteArray method;
    QByteArray target; // as sent: path and query, still percent-encoded
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QString peer; // the client's address, as the socket saw it

    // The first value of a header, or empty; name in lower case.
    QByteArray header(const QByteArray &name) const
    {
        for (const auto &h : headers)
            if (h.first == name) return h.second;
        return {};
    }
    bool hasHeader(const QByteArray &name) const
    {
        for (const auto &h : headers)
            if (h.first == name) return true;
        return false;
    }
};

struct HttpResponse {
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    void setHeader(const QByteArray &name, const QByteArray &value)
    {
        for (auto &h : headers)
            if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
                h.second = value;
                return;
            }
        headers.append({name, value});
    }

    // Every error body of the service, the engine's own refusals and the
    // API's: {"erro": why}, JSON in UTF-8.
    static HttpResponse error(int status, const QString &why);
    // More in hand than the service takes on: 503, try again in a second.
    static HttpResponse busy();
};

// An HTTP/1.1 server made for a hostile network: one thread waits on every
// connection (epoll through Asio), so a client that sends slowly or never
// stops costs a few kilobytes, not a thread. Each request has absolute
// deadlines for its header and its body, however slowly the bytes trickle;
// the header is bounded in size and in count of fields (431), the body per
// request (413) and all bodies being read together (503); an address may
// hold only so many connections and the server only so many in all. A body
// that is compressed is refused with 415 before it is read, so nothing is
// ever inflated. The answer is asynchronous: a request waiting for a slow
// exchange holds no thread, only its connection.
class HttpEngine
{
public:
    struct Limits {
        int headerMs = 10000; // from the end of the last answer (or accept) to the whole header
        int bodyMs = 60000;   // from the header to the whole body
        int writeMs = 30000;  // for the answer to leave
        int maxHeaderBytes = 16 * 1024;
        int maxHeaderFields = 100;
        qint64 maxBody = 4 * 1024 * 1024;
        qint64 maxBodiesInFlight = 32 * 1024 * 1024;
        int maxConnections = 4096;
        int maxPerAddress = 1024;
        // Descriptors the rest of the process may hold (files, relays): the
        // bounds above shrink to fit the open-file limit less these, so that
        // the engine refuses a connection before accept() itself fails.
        int reservedFiles = 64;
    };
    // Answers the request: callable from any thread, once; a reply dropped
    // without being called answers 500.
    using Reply = std::function<void(HttpResponse)>;
    // Called on the engine's thread for every whole request.
    using Handler = std::function<void(HttpRequest, Reply)>;
    // Called on the engine's thread when a header is whole, before its body
    // is read (the request's body is empty then): an answer refuses it
    // there, and the body is never read.
    using HeaderCheck = std::function<std::optional<HttpResponse>(const HttpRequest &)>;

    HttpEngine(const Limits &limits, Handler handler, HeaderCheck check = {});
    ~HttpEngine();
    HttpEngine(const HttpEngine &) = delete;
    HttpEngine &operator=(const HttpEngine &) = delete;

    // Binds and serves on a thread of its own; the port actually taken (a
    // free one for 0), or 0 with the reason.
    quint16 listen(const QString &host, quint16 port, QString *error);
    // Takes no new connection and drops those waiting for a request; those
    // in hand are answered, then stopped() runs (on the engine's thread).
    void requestStop(std::function<void()> stopped);
    // Ends serving at once and waits for the thread.
    void stop();
    // Open connections, for the benchmarks and the tests.
    int connectionCount() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};
