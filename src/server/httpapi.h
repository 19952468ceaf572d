#pragma once

#include "idempotency.h"
#include "sessions.h"

#include <QJsonArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <thread>

class LetreiroService;

// What the API tells the main thread.
class HttpApiEvents : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
Q_SIGNALS:
    // The server has answered its last request after requestStop().
    void stopped();
};
class UserStore;
namespace httplib
{
class Server;
struct Request;
struct Response;
} // namespace httplib

// The web page and the JSON API, behind a login. Requests are served on
// the HTTP library's threads; everything that touches a line is handed to
// the service on the main thread, and the request waits there for its
// exchange. Previews are made on the request's own thread.
//
// Qt HTTP Server 6.4 (Debian 12) reads a whole request body into memory
// before any handler sees it, and a deferred answer cannot know that its
// client went away; cpp-httplib refuses bodies over a limit with 413 before
// reading them and serves each request on a thread of a pool, so it is
// used here.
class HttpApi
{
public:
    HttpApi(LetreiroService &service, UserStore &users);
    ~HttpApi();

    // Binds and serves; the port actually taken (the configuration's, or a
    // free one for 0), or 0 with the reason.
    quint16 listen(const QString &host, quint16 port, QString *error);
    // Ends serving without waiting: events()->stopped() follows once the
    // requests in hand are answered.
    void requestStop();
    // Ends serving and waits for the server's threads.
    void stop();
    HttpApiEvents *events() const { return m_events; }

private:
    using Handler = std::function<void(const httplib::Request &, httplib::Response &)>;
    using GuardedHandler =
        std::function<void(const httplib::Request &, httplib::Response &, const QString &user)>;

    void routes();
    // The page's files and what it asks while the user types.
    void pageRoutes();
    // The handler run for a signed-in user (session or token); 401 otherwise.
    Handler guarded(GuardedHandler handler);
    // The handler run once per Idempotency-Key (see IdempotencyCache).
    GuardedHandler idempotent(GuardedHandler handler);
    // The user of a request (session cookie or bearer token), or empty.
    QString who(const httplib::Request &req);
    // The agenda's entries, with the warnings of their texts.
    QJsonArray agendaJson();
    // A panel's type; 0 for none or an unknown name.
    int panelType(const QString &panel) const;
    // Runs f(done) on the main thread and waits for done(result).
    template <typename Result, typename F> Result onMain(F f);

    LetreiroService &m_service;
    UserStore &m_users;
    QObject *m_context; // lives on the main thread
    HttpApiEvents *m_events;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    Sessions m_sessions;
    IdempotencyCache m_idempotency;
};
