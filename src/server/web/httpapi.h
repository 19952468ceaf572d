#pragma once

#include "httpengine.h"
#include "idempotency.h"
#include "loginlimiter.h"
#include "messagelibrary.h"
#include "requestguard.h"
#include "result.h"
#include "sessions.h"

#include <QJsonArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>

#include <memory>

class LetreiroService;
class UserStore;

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

// The web page and the JSON API, behind a login, on the HTTP engine. The
// engine's thread refuses what the header alone condemns (a foreign Host
// or origin, a form's content type, no login) before any body is read;
// every other request is routed on the main thread, beside the service,
// and answered when its exchange is done, holding no thread meanwhile.
// Password checks and previews, which take a while of CPU, run on thread
// pools of their own: a flood of previews never delays a login, and beyond
// a few previews waiting the next is refused (503) rather than queued.
class HttpApi
{
public:
    // The pools the work off the main thread runs on, owned by whoever
    // builds the API (main, or a test that wants to hold or count that
    // work). None may be null; each must outlive the API, which waits for
    // what it gave them when it goes.
    struct Pools {
        QThreadPool *login;   // password checks
        QThreadPool *preview; // previews: its thread count and four more waiting, at most
        QThreadPool *library; // library messages read for sending, one at a time
        // The counts the service runs with: the main thread, the HTTP
        // engine's and a login's keep a core between them; a few previews
        // at once are plenty for one page's users.
        static void setServiceCounts(QThreadPool &preview, QThreadPool &library);
    };
    HttpApi(LetreiroService &service, UserStore &users, const Pools &pools);
    ~HttpApi();

    // Binds and serves; the port actually taken (the configuration's, or a
    // free one for 0).
    Result<quint16> listen(const QString &host, quint16 port);
    // Ends serving without waiting: events()->stopped() follows once the
    // requests in hand are answered.
    void requestStop();
    // Ends serving and waits for the engine's thread.
    void stop();
    HttpApiEvents *events() const { return m_events; }

    using Reply = HttpEngine::Reply;
    // A part above the API (the head office) answers what comes under
    // /api/NAME/…, behind the same login, on the main thread: the request,
    // the path after NAME, and who asks.
    using DoorRoute = std::function<void(const HttpRequest &, const QStringList &rest,
                                         const QString &user, const Reply &)>;
    void addDoor(const QString &name, DoorRoute route);
    // Lines that part adds to /metrics (Prometheus' text format).
    void addMetrics(std::function<QByteArray()> part);
    UserStore &users() const { return m_users; }

private:
    // The user of a request (session cookie or bearer token), or empty.
    // Safe from any thread.
    QString who(const HttpRequest &req) const;
    std::optional<HttpResponse> checkHeader(const HttpRequest &req) const;
    void route(const HttpRequest &req, const Reply &reply);
    void routeApi(const HttpRequest &req, const QStringList &path, const QString &user,
                  const Reply &reply);
    void login(const HttpRequest &req, const Reply &reply);
    void noticeProxy(const QString &peer);
    void watchUsers();
    static constexpr qint64 kUsersWatchMs = 1000;
    void logout(const HttpRequest &req, const Reply &reply);
    void preview(const HttpRequest &req, const Reply &reply);
    void putSchedule(const HttpRequest &req, const Reply &reply);
    // The page's own questions (who is signed in, the effects, what a text
    // becomes); false for a path that is none of them.
    bool routePage(const HttpRequest &req, const QStringList &path, const QString &user,
                   const Reply &reply);
    // A send to a panel, once per Idempotency-Key (see IdempotencyCache).
    void sendOnce(const HttpRequest &req, const QStringList &path, const QString &user,
                  const Reply &reply);
    // The agenda's entries, with the warnings of their texts.
    QJsonArray agendaJson() const;
    // A panel's type; 0 for none or an unknown name.
    int panelType(const QString &panel) const;

    LetreiroService &m_service;
    UserStore &m_users;
    QObject *m_context; // lives on the main thread
    HttpApiEvents *m_events;
    RequestGuard m_guard;
    LoginLimiter m_limiter;
    MessageLibrary m_library;
    Sessions m_sessions;
    IdempotencyCache m_idempotency;
    int m_loginsChecking = 0;
    QSet<QString> m_proxiesNoticed;
    int m_previewsInHand = 0; // running or waiting for the preview pool
    QHash<QString, DoorRoute> m_doors;
    QList<std::function<QByteArray()>> m_metrics;
    Pools m_pools;
    std::unique_ptr<HttpEngine> m_engine;
};
